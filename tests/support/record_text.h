// SPDX-License-Identifier: Apache-2.0
#pragma once

// Intel HEX and S-record lines written by hand, checksums included, for the tests of what
// reads them.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace quorvale::test {

inline std::string HexByte(unsigned value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

// One Intel HEX record: length, address, type, data, two's-complement checksum.
inline std::string HexRecord(unsigned type, unsigned address,
                             const std::vector<std::uint8_t>& data) {
    unsigned sum = data.size() + (address >> 8) + address + type;
    std::string line(1, ':');
    line.append(HexByte(data.size())).append(HexByte(address >> 8));
    line.append(HexByte(address)).append(HexByte(type));
    for (const std::uint8_t byte : data) {
        line += HexByte(byte);
        sum += byte;
    }
    return line + HexByte(0x100 - (sum & 0xFF)) + "\n";
}

// Data records of 16 bytes from `address`.
inline std::string HexData(unsigned address, const std::vector<std::uint8_t>& data) {
    std::string text;
    for (std::size_t at = 0; at < data.size(); at += 16) {
        const auto begin = data.begin() + static_cast<std::ptrdiff_t>(at);
        const auto end = data.begin() + static_cast<std::ptrdiff_t>(std::min(at + 16, data.size()));
        text += HexRecord(0, address + at, std::vector<std::uint8_t>(begin, end));
    }
    return text;
}

inline const std::string kHexEnd = ":00000001FF\n";

// One S-record: type, count, address of `addressBytes` bytes, data, one's-complement checksum.
inline std::string SRecord(char type, unsigned addressBytes, unsigned address,
                           const std::vector<std::uint8_t>& data) {
    unsigned sum = addressBytes + data.size() + 1;
    std::string line{'S', type};
    line.append(HexByte(addressBytes + data.size() + 1));
    for (unsigned i = addressBytes; i-- > 0;) {
        line += HexByte(address >> (8 * i));
        sum += (address >> (8 * i)) & 0xFF;
    }
    for (const std::uint8_t byte : data) {
        line += HexByte(byte);
        sum += byte;
    }
    return line + HexByte(~sum) + "\n";
}

// Data records of 32 bytes from `address`.
inline std::string SData(char type, unsigned addressBytes, unsigned address,
                         const std::vector<std::uint8_t>& data) {
    std::string text;
    for (std::size_t at = 0; at < data.size(); at += 32) {
        const auto begin = data.begin() + static_cast<std::ptrdiff_t>(at);
        const auto end = data.begin() + static_cast<std::ptrdiff_t>(std::min(at + 32, data.size()));
        text += SRecord(type, addressBytes, address + at, std::vector<std::uint8_t>(begin, end));
    }
    return text;
}

}  // namespace quorvale::test
