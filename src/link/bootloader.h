// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>

#include "link/port_handle.h"

namespace quorvale {

// The bootloader's commands. Each makes up to three tries of one frame transaction and
// answers true when a reply of the expected content arrived.
constexpr int CommandTries = 3;

bool QueryHardwareCode(PortHandle& port, std::uint8_t& code);
bool SetVersionNumber(PortHandle& port, std::uint8_t version);
// Sends `count` bytes for `address`. The count itself is not transmitted: the bootloader
// knows its block size.
bool SendDataBlock(PortHandle& port, std::uint16_t address, std::uint16_t count,
                   const std::uint8_t* data);

}  // namespace quorvale
