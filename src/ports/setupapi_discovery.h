// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ports/device_setup.h"
#include "ports/discovery.h"
#include "ports/port_record.h"

// Windows' discovery, step by step on the device-setup service: the "ports" class, its
// interfaces with their friendly names, and the probe of the ten first COM names when the
// enumeration finds nothing; then every port of the COM-port interface not yet listed. Written
// against DeviceSetup so that a fake can drive every path.
namespace quorvale {

// The ports the algorithm finds on `setup`, without their identities. Raises SystemErrorCode
// or NoPortsClassError.
std::vector<PortRecord> FindPortsWith(DeviceSetup& setup);
// The same as the dialog's list.
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
