// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "files/error.h"

namespace quorvale {

// Input files of a build (an ELF with its debug sections, a HEX file) are larger than the
// image they hold; this bounds what a caller reads before packing.
inline constexpr std::size_t kPackInputLimit = 64 * 1024 * 1024;

// What a firmware file is made with besides its image data, as given: checked by
// PackFirmwareFile.
struct PackSettings {
    std::uint32_t baudRate = 0;
    std::uint32_t hardwareCode = 0;
    std::uint32_t version = 0;
    // Raw binary needs it; for HEX, S-records and ELF it defaults to the lowest address
    // rounded down to a page.
    std::optional<std::uint32_t> startAddress;
    // Subtracted from every address of HEX, S-record and ELF input.
    std::optional<std::uint64_t> base;
};

// The firmware file made from `input`, what a controller's build emits (raw binary, Intel
// HEX, S-records or an ELF executable, told apart by content), called `name` in what is said:
// its image laid out in whole pages from the start address, gaps and the last page filled
// with 0xFF (erased flash). Refused, in words that say where, for settings out of range,
// input that is malformed or holds no data, and an image that does not fit in 64 KiB.
Result<std::vector<std::uint8_t>> PackFirmwareFile(std::span<const std::uint8_t> input,
                                                   const std::string& name,
                                                   const PackSettings& settings);

}  // namespace quorvale
