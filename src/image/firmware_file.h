// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace quorvale {

struct FirmwareHeader {
    std::uint16_t baudRate = 0;
    std::uint16_t startAddress = 0;
    std::uint8_t version = 0;
    std::uint8_t hardwareCode = 0;
};

// Lays out a firmware file: header followed by `data`. The CRC is computed first because the
// start address and the length are stored XORed with it. A data length of 65536 is stored as
// 0. Checks nothing: callers that need a loadable file keep to whole pages within 64 KiB.
std::vector<std::uint8_t> EncodeFirmwareFile(const FirmwareHeader& header,
                                             std::span<const std::uint8_t> data);

}  // namespace quorvale
