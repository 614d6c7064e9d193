// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace quorvale {

// One discovered port. Its values are fixed at construction.
class SerialPort {
public:
    SerialPort(std::string friendlyName, std::string devicePath, std::string portName, bool present)
        : m_friendlyName(std::move(friendlyName)),
          m_devicePath(std::move(devicePath)),
          m_portName(std::move(portName)),
          m_present(present) {}
    virtual ~SerialPort() = default;

    // What the port list shows, such as "FT232R USB UART (/dev/ttyUSB0)".
    std::string GetFriendlyName() const { return m_friendlyName; }
    // What the download opens and the settings store remembers, such as "/dev/ttyUSB0".
    std::string GetPortName() const { return m_portName; }
    std::string GetDevicePath() const { return m_devicePath; }
    // Whether the device could be opened, without access rights, when it was discovered.
    bool IsPresent() const { return m_present; }

private:
    const std::string m_friendlyName;
    const std::string m_devicePath;
    const std::string m_portName;
    const bool m_present;
};

// Each entry owns its port; the list is in discovery order, and an entry's index is its
// index in the dialog's port list.
using PortEntry = std::unique_ptr<SerialPort>;
using PortList = std::vector<PortEntry>;

}  // namespace quorvale
