// SPDX-License-Identifier: Apache-2.0
#include "image/firmware_file.h"

#include <algorithm>

#include "image/crc16.h"
#include "image/firmware_image.h"

namespace quorvale {

std::vector<std::uint8_t> EncodeFirmwareFile(const FirmwareHeader& header,
                                             std::span<const std::uint8_t> data) {
    const std::uint16_t crc = Crc16(data.data(), data.size());
    const auto crcHi = static_cast<std::uint8_t>(crc >> 8);
    const auto crcLo = static_cast<std::uint8_t>(crc & 0xFF);
    const auto length = static_cast<std::uint16_t>(data.size() & 0xFFFF);
    const auto hi = [](unsigned v) { return static_cast<std::uint8_t>((v >> 8) & 0xFF); };
    const auto lo = [](unsigned v) { return static_cast<std::uint8_t>(v & 0xFF); };

    std::vector<std::uint8_t> file(FirmwareImage::HeaderSize + data.size(), 0);
    file[0] = hi(header.baudRate);
    file[1] = lo(header.baudRate);
    file[2] = crcHi;
    file[3] = crcLo;
    file[4] = hi(header.startAddress) ^ crcHi;
    file[5] = lo(header.startAddress) ^ crcLo;
    file[6] = hi(length) ^ crcHi;
    file[7] = lo(length) ^ crcLo;
    file[13] = header.version;
    file[15] = header.hardwareCode;
    std::copy(data.begin(), data.end(), file.begin() + FirmwareImage::HeaderSize);
    return file;
}

}  // namespace quorvale
