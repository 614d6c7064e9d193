// SPDX-License-Identifier: Apache-2.0
#include "ports/discovery.h"

namespace quorvale {
namespace {

constexpr char kNoPortsClass[] = "There are no guids associated with the ports class";

}  // namespace

NoPortsClassError::NoPortsClassError() : std::runtime_error(kNoPortsClass) {}

PortList PortListOf(const std::vector<PortRecord>& records) {
    PortList ports;
    ports.reserve(records.size());
    for (const PortRecord& record : records) {
        ports.push_back(std::make_unique<SerialPort>(record.friendlyName, record.devicePath,
                                                     record.portName, record.present));
    }
    return ports;
}

PortList DiscoverSerialPorts() {
    return PortListOf(FindPorts());
}

}  // namespace quorvale
