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

// Asks the driver for low latency; answers the flags to restore at close, or nothing when the
// driver refuses (pseudo-terminals, most built-in UARTs) or already works that way.
std::optional<int> EnableLowLatency(int fd);
void RestoreSerialFlags(int fd, int flags);

}  // namespace quorvale
