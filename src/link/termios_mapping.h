#pragma once

#include <termios.h>

#include <optional>

#include "link/serial_port.h"

namespace quorvale {

// The termios speed constant for a rate that termios names, if it does.
std::optional<speed_t> StandardSpeed(std::uint32_t baudRate);

// The settings OpenPort applies, starting from what the driver had. Binary mode, CTS flow
// and XON/XOFF output control off; input flow control and parity checking stay as they were.
// A standard rate is set here; any other rate keeps the old speed bits and is applied
// separately. Values outside the known codes leave that part of the line unchanged.
termios MakeLineTermios(termios current, const LineSettings& settings);

// Applies a rate that termios has no constant for (56000, 128000, any 16-bit value).
bool SetCustomBaudRate(int fd, std::uint32_t baudRate);

// Asks the driver for low latency; true when this call turned it on, so that it is turned off
// again at close. Drivers without the request (pseudo-terminals) refuse; many USB-serial
// drivers other than FTDI's take the flag and change nothing.
bool EnableLowLatency(int fd);
void DisableLowLatency(int fd);

}  // namespace quorvale
