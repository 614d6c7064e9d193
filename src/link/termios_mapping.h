// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <termios.h>

#include <optional>

#include "link/port_handle.h"

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
// The rate the driver reports it runs at, if it says.
std::optional<std::uint32_t> ReportedBaudRate(int fd);
// The driver's base clock, the rate at divisor 1 (TIOCGSERIAL's baud_base); 0 where it has
// none to report, as a pseudo-terminal.
std::uint32_t BaseClock(int fd);

// Asks the driver for low latency; true when this call turned it on, so that it is turned off
// again at close. Drivers without the request (pseudo-terminals) refuse; many USB-serial
// drivers other than FTDI's take the flag and change nothing.
bool EnableLowLatency(int fd);
void DisableLowLatency(int fd);

}  // namespace quorvale
