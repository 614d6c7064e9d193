// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "ports/port_list.h"
#include "ports/port_record.h"

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
// this user: the records FindPorts answers, as the dialog's list. Raises SystemErrorCode or
// NoPortsClassError.
PortList DiscoverSerialPorts();

// The list the dialog shows of a backend's records, in their order.
PortList PortListOf(const std::vector<PortRecord>& records);

}  // namespace quorvale
