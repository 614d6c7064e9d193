// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvale {

// CRC-16/MODBUS returned with its two bytes swapped: the high byte of the result is the
// standard value's low byte. This is the byte order in which firmware headers store it.
std::uint16_t Crc16(const std::uint8_t* data, std::size_t count);

}  // namespace quorvale
