// SPDX-License-Identifier: Apache-2.0
#include "image/crc16.h"

#include <array>

namespace quorvale {
namespace {

struct CrcTables {
    std::array<std::uint8_t, 256> hi{};
    std::array<std::uint8_t, 256> lo{};
};

// The two lookup tables of the Modbus reference routine, derived from the reflected table
// of polynomial 0xA001: TableHi holds the low byte of each entry, TableLo its high byte.
constexpr CrcTables MakeTables() {
    CrcTables tables;
    for (unsigned i = 0; i < 256; ++i) {
        unsigned entry = i;
        for (int bit = 0; bit < 8; ++bit) {
            entry = (entry & 1u) ? (entry >> 1) ^ 0xA001u : entry >> 1;
        }
        tables.hi[i] = static_cast<std::uint8_t>(entry & 0xFFu);
        tables.lo[i] = static_cast<std::uint8_t>(entry >> 8);
    }
    return tables;
}

constexpr CrcTables kTables = MakeTables();

static_assert(kTables.hi[1] == 0xC1 && kTables.hi[7] == 0x41);
static_assert(kTables.lo[1] == 0xC0 && kTables.lo[7] == 0xC2);

}  // namespace

std::uint16_t Crc16(const std::uint8_t* data, std::size_t count) {
    std::uint8_t hi = 0xFF;
    std::uint8_t lo = 0xFF;
    for (std::size_t n = 0; n < count; ++n) {
        const std::uint8_t i = hi ^ data[n];
        hi = lo ^ kTables.hi[i];
        lo = kTables.lo[i];
    }
    return static_cast<std::uint16_t>((hi << 8) | lo);
}

}  // namespace quorvale
