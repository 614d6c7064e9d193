// SPDX-License-Identifier: Apache-2.0
// The ports of a Windows machine: the device-setup service's, found by the discovery algorithm.
// Windows keeps no stable links or USB strings where the tool could read them alike, so the
// identities stay unknown.
#include "ports/port_record.h"
#include "ports/setupapi_discovery.h"

namespace quorvale {

std::vector<PortRecord> FindPorts() {
    const std::unique_ptr<DeviceSetup> setup = MakeSystemDeviceSetup();
    std::vector<PortRecord> ports = FindPortsWith(*setup);
    AppendSimulatedControllers(ports);
    return ports;
}

}  // namespace quorvale
