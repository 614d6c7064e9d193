// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "files/error.h"

namespace quorvale {

// The forms image data comes in from a controller's build, told apart by content.
enum class InputFormat { Raw, IntelHex, SRecord, Elf };

InputFormat RecogniseInputFormat(std::span<const std::uint8_t> bytes);
// The form of the file at `path`, when `pack` reads it as more than raw bytes; nothing for raw
// bytes or a file that can't be read.
std::optional<InputFormat> RecogniseFileFormat(const std::string& path);
const char* InputFormatName(InputFormat format);

// Bytes that belong at an address, and where the input gave them ("line 12", "program
// header 2"), for saying where a problem is. Records that continue one another are one
// segment, named by the first.
struct Segment {
    std::uint64_t address = 0;
    std::vector<std::uint8_t> bytes;
    std::string where;
};

// A refusal of input that is not what it claims to be, in the program's own words.
inline Refusal Malformed(std::string words) {
    return Refused({ErrorKind::Malformed, 0, std::move(words)});
}

// Whether raw binary starts like a record file (':' or 'S' and a digit, after white space): a
// record file that recognition did not take, which must not be packed as raw bytes.
bool LooksLikeRecords(std::span<const std::uint8_t> bytes);

// The loadable segments of an ELF executable (32 or 64 bits, either byte order): each program
// header of type PT_LOAD with file contents, at its physical address.
Result<std::vector<Segment>> ReadElfSegments(std::span<const std::uint8_t> file);

// The image the segments make: from `start` (by default the lowest address rounded down to a
// multiple of 256) to the highest address rounded up to one, `base` subtracted from every
// address, gaps filled with 0xFF (erased flash). Refuses data below `base` or beyond 64 KiB
// above it, overlapping data that differs, a `start` above the lowest address, and no data.
struct LaidOutImage {
    std::uint32_t start = 0;
    std::vector<std::uint8_t> data;
};
Result<LaidOutImage> LayOutImage(const std::vector<Segment>& segments, std::uint64_t base,
                                 std::optional<std::uint32_t> start);

}  // namespace quorvale
