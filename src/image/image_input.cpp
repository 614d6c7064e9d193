// SPDX-License-Identifier: Apache-2.0
// What reading image data means on every system: telling the forms apart, ELF's program
// headers, and laying segments out into one image.
#include "image/image_input.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "files/regular_file.h"

namespace quorvale {
namespace {

constexpr std::uint64_t kAddressSpace = 65536;
constexpr std::uint64_t kPage = 256;

std::string Hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

// The first line of `bytes` after a UTF-8 byte-order mark and leading white space, without
// trailing blanks, if all of it is printable text.
std::optional<std::string> FirstTextLine(std::span<const std::uint8_t> bytes) {
    static constexpr std::uint8_t kByteOrderMark[] = {0xEF, 0xBB, 0xBF};
    std::size_t at = 0;
    if (bytes.size() >= 3 && std::equal(kByteOrderMark, kByteOrderMark + 3, bytes.begin())) {
        at = 3;
    }
    while (at < bytes.size() && std::isspace(bytes[at])) {
        ++at;
    }
    std::string line;
    for (; at < bytes.size() && bytes[at] != '\n' && bytes[at] != '\r'; ++at) {
        if (!std::isprint(bytes[at]) && bytes[at] != '\t') {
            return std::nullopt;
        }
        line += static_cast<char>(bytes[at]);
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) {
        line.pop_back();
    }
    return line;
}

bool StartsLikeRecords(const std::string& line) {
    return (line.size() >= 1 && line[0] == ':') ||
           (line.size() >= 2 && line[0] == 'S' &&
            std::isdigit(static_cast<unsigned char>(line[1])));
}

bool AllHex(const std::string& text, std::size_t from) {
    return text.size() > from &&
           std::all_of(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(),
                       [](unsigned char c) { return std::isxdigit(c); });
}

// Reads the unsigned field of `size` bytes at `offset` in the byte order given.
class ElfReader {
public:
    ElfReader(std::span<const std::uint8_t> file, bool bigEndian)
        : m_file(file), m_bigEndian(bigEndian) {}

    bool Fits(std::uint64_t offset, std::uint64_t size) const {
        return offset <= m_file.size() && size <= m_file.size() - offset;
    }
    std::uint64_t Field(std::uint64_t offset, unsigned size) const {
        std::uint64_t value = 0;
        for (unsigned i = 0; i < size; ++i) {
            const unsigned shift = 8 * (m_bigEndian ? size - 1 - i : i);
            value |= std::uint64_t{m_file[offset + i]} << shift;
        }
        return value;
    }

private:
    std::span<const std::uint8_t> m_file;
    bool m_bigEndian;
};

}  // namespace

InputFormat RecogniseInputFormat(std::span<const std::uint8_t> bytes) {
    static constexpr std::uint8_t kElfMagic[] = {0x7F, 'E', 'L', 'F'};
    if (bytes.size() >= 4 && std::equal(kElfMagic, kElfMagic + 4, bytes.begin())) {
        return InputFormat::Elf;
    }
    const auto line = FirstTextLine(bytes);
    if (line && line->size() >= 11 && (*line)[0] == ':' && AllHex(*line, 1)) {
        return InputFormat::IntelHex;
    }
    if (line && line->size() >= 4 && (*line)[0] == 'S' &&
        std::isdigit(static_cast<unsigned char>((*line)[1])) && AllHex(*line, 2)) {
        return InputFormat::SRecord;
    }
    return InputFormat::Raw;
}

std::optional<InputFormat> RecogniseFileFormat(const std::string& path) {
    // The magic number or the first line tells, and a record file's lines are short.
    constexpr std::size_t kHead = 4096;
    off_t size = 0;
    const FileDescriptor file(OpenRegularFile(path, size));
    if (file.get() < 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> head(std::min<std::size_t>(static_cast<std::size_t>(size), kHead));
    std::size_t got = 0;
    if (!ReadFully(file.get(), head.data(), head.size(), got)) {
        return std::nullopt;
    }
    head.resize(got);
    const InputFormat format = RecogniseInputFormat(head);
    return format != InputFormat::Raw ? std::optional(format) : std::nullopt;
}

bool LooksLikeRecords(std::span<const std::uint8_t> bytes) {
    const auto line = FirstTextLine(bytes);
    return line && StartsLikeRecords(*line);
}

const char* InputFormatName(InputFormat format) {
    switch (format) {
        case InputFormat::IntelHex:
            return "Intel HEX";
        case InputFormat::SRecord:
            return "S-record";
        case InputFormat::Elf:
            return "ELF";
        case InputFormat::Raw:
            break;
    }
    return "raw binary";
}

Result<std::vector<Segment>> ReadElfSegments(std::span<const std::uint8_t> file) {
    constexpr unsigned kClass = 4, kData = 5, kPtLoad = 1;
    if (file.size() < 16 || (file[kClass] != 1 && file[kClass] != 2) ||
        (file[kData] != 1 && file[kData] != 2)) {
        return Malformed("not an ELF file of a known class and byte order");
    }
    const bool wide = file[kClass] == 2;
    const ElfReader elf(file, file[kData] == 2);
    const unsigned word = wide ? 8 : 4;
    const std::uint64_t headerSize = wide ? 64 : 52;
    if (!elf.Fits(0, headerSize)) {
        return Malformed("the ELF header is cut short");
    }
    const std::uint64_t phoff = elf.Field(wide ? 32 : 28, word);
    const std::uint64_t phentsize = elf.Field(wide ? 54 : 42, 2);
    const std::uint64_t phnum = elf.Field(wide ? 56 : 44, 2);
    const std::uint64_t entrySize = wide ? 56 : 32;
    // 0xFFFF says the count is kept elsewhere: more program headers than any image needs.
    if (phnum == 0xFFFF || (phnum > 0 && phentsize < entrySize)) {
        return Malformed("the program header table is not one this reader takes");
    }
    if (!elf.Fits(phoff, phnum * phentsize)) {
        return Malformed("the program header table lies beyond the end of the file");
    }
    std::vector<Segment> segments;
    for (std::uint64_t i = 0; i < phnum; ++i) {
        const std::uint64_t at = phoff + i * phentsize;
        const std::string where = "program header " + std::to_string(i);
        const std::uint64_t type = elf.Field(at, 4);
        const std::uint64_t offset = elf.Field(at + (wide ? 8 : 4), word);
        const std::uint64_t physical = elf.Field(at + (wide ? 24 : 12), word);
        const std::uint64_t fileSize = elf.Field(at + (wide ? 32 : 16), word);
        if (type != kPtLoad || fileSize == 0) {
            continue;
        }
        if (!elf.Fits(offset, fileSize)) {
            return Malformed(where + ": its data lies beyond the end of the file");
        }
        if (fileSize > kAddressSpace) {
            return Malformed(where + ": " + std::to_string(fileSize) + " bytes, more than 64 KiB");
        }
        const auto begin = file.begin() + static_cast<std::ptrdiff_t>(offset);
        segments.push_back(
            {physical, {begin, begin + static_cast<std::ptrdiff_t>(fileSize)}, where});
    }
    return segments;
}

Result<LaidOutImage> LayOutImage(const std::vector<Segment>& segments, std::uint64_t base,
                                 std::optional<std::uint32_t> start) {
    std::uint64_t lowest = UINT64_MAX;
    std::uint64_t highest = 0;
    for (const Segment& segment : segments) {
        if (segment.bytes.empty()) {
            continue;
        }
        if (segment.address < base) {
            return Malformed(segment.where + ": data at " + Hex(segment.address) +
                             " lies below --base " + Hex(base));
        }
        const std::uint64_t offset = segment.address - base;
        if (offset > kAddressSpace || segment.bytes.size() > kAddressSpace - offset) {
            return Malformed(segment.where + ": data at " + Hex(segment.address) +
                             " runs beyond 64 KiB above " + Hex(base));
        }
        lowest = std::min(lowest, offset);
        highest = std::max(highest, offset + segment.bytes.size());
    }
    if (lowest == UINT64_MAX) {
        return Malformed("the input holds no data");
    }
    if (start && *start > lowest) {
        return Malformed("--start " + Hex(*start) + " lies above the lowest address, " +
                         Hex(lowest));
    }
    LaidOutImage image;
    image.start = start ? *start : static_cast<std::uint32_t>(lowest / kPage * kPage);
    const std::uint64_t end = (highest + kPage - 1) / kPage * kPage;
    image.data.assign(end - image.start, 0xFF);
    // Who wrote each byte, so that overlapping data is refused only where it differs.
    std::vector<const Segment*> owner(image.data.size(), nullptr);
    for (const Segment& segment : segments) {
        const std::uint64_t first = segment.address - base - image.start;
        for (std::size_t i = 0; i < segment.bytes.size(); ++i) {
            const std::uint64_t at = first + i;
            if (owner[at] && image.data[at] != segment.bytes[i]) {
                return Malformed(segment.where + ": data at " + Hex(base + image.start + at) +
                                 " differs from " + owner[at]->where + "'s");
            }
            image.data[at] = segment.bytes[i];
            owner[at] = &segment;
        }
    }
    return image;
}

}  // namespace quorvale
