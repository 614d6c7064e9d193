// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "ports/device_setup.h"
#include "ports/port_list.h"

namespace quorvale {

// A step of the device-setup service failed; carries the system's error code.
class SystemErrorCode : public std::runtime_error {
public:
    SystemErrorCode(std::uint32_t code, const std::string& text)
        : std::runtime_error(text), m_code(code) {}
    std::uint32_t Code() const { return m_code; }

private:
    std::uint32_t m_code;
};

// The device-setup service knows no "ports" class.
class NoPortsClassError : public std::runtime_error {
public:
    NoPortsClassError();
};

// The machine's serial ports in discovery order, then the simulated controllers running for
// this user. Raises SystemErrorCode or NoPortsClassError.
PortList DiscoverSerialPorts();

// The discovery algorithm on a given device-setup service: its enumeration, or when that
// finds nothing, the probe of the ten first port names.
PortList DiscoverSerialPorts(DeviceSetup& setup);

std::uint32_t GetPortsClassGuid(DeviceSetup& setup);
void EnumeratePortsClass(DeviceSetup& setup, std::vector<std::string>& friendlyNames,
                         std::vector<std::string>& devicePaths,
                         std::vector<std::string>& portNames);
void ReadInterfaceNames(DeviceSetup& setup, DeviceSetup::SetHandle set, std::uint32_t index,
                        std::string& devicePath, std::string& friendlyName, std::string& portName);
// From the marker up to, but not including, the last character (the closing parenthesis).
// Without the marker: the whole name less its last character.
std::string PortNameFromFriendlyName(const std::string& friendlyName, const std::string& marker);
bool CanOpenPort(DeviceSetup& setup, const std::string& name);

}  // namespace quorvale
