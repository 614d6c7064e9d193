// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

#include "ports/port_identity.h"

namespace quorvale {

// One serial port, as the system's own backend finds it.
struct PortRecord {
    std::string portName;      // what OpenPort takes: /dev/ttyUSB0, COM3
    std::string friendlyName;  // "FT232R USB UART (/dev/ttyUSB0)", "USB Serial Port (COM3)"
    std::string devicePath;    // the device interface's path on Windows; the node on Linux
    bool present = true;       // it can be opened (as far as can be told without opening it)
    PortIdentity identity;     // what tells it from another beyond its name, where known
    bool simulated = false;    // a simulated controller announced by `quorvale simulate`
};

// The machine's serial ports in its backend's order, then the simulated controllers running
// for this user. Raises SystemErrorCode or NoPortsClassError (ports/discovery.h) when the
// system's device-setup service fails.
std::vector<PortRecord> FindPorts();

// "Simulated controller (<terminal>)" for each running simulator (none on Windows), appended
// to `ports`.
void AppendSimulatedControllers(std::vector<PortRecord>& ports);

}  // namespace quorvale
