// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ports/port_list.h"

namespace quorvale::test {

struct FakePort {
    std::string friendlyName;
    std::string portName;
};

inline const std::vector<FakePort> kThreePorts = {
    {"Communications Port (COM1)", "COM1"},
    {"USB Serial Port (COM3)", "COM3"},
    {"USB Serial Port (COM5)", "COM5"},
};

// The list discovery would give for these ports, every one present.
inline PortList MakePortList(const std::vector<FakePort>& ports) {
    PortList list;
    for (const FakePort& port : ports) {
        list.push_back(
            std::make_unique<SerialPort>(port.friendlyName, port.portName, port.portName, true));
    }
    return list;
}

}  // namespace quorvale::test
