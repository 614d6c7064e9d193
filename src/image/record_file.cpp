// SPDX-License-Identifier: Apache-2.0
// Intel HEX and S-records: lines of hexadecimal bytes, each with its own count and checksum.
// A line is checked whole before any of its data is taken, and nothing that would leave a hole
// in the image is passed over in silence.
#include "image/record_file.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>
#include <utility>

#include "image/input_messages.h"

namespace quorvale {
namespace {

// Identical data given twice is allowed, so a file may hold more data than the image; this
// much more means something is wrong, and is refused before it costs much memory.
constexpr std::size_t kMostData = 16 * 65536;

// The value of a hexadecimal digit of either case, whatever the locale; -1 for anything else.
int DigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// One line without its line end and trailing blanks, numbered from 1.
struct Line {
    std::size_t number = 0;
    std::string_view text;
};

class Lines {
public:
    explicit Lines(std::span<const std::uint8_t> bytes)
        : m_text(reinterpret_cast<const char*>(bytes.data()), bytes.size()) {}

    std::optional<Line> Next() {
        if (m_at >= m_text.size()) {
            return std::nullopt;
        }
        const std::size_t end = std::min(m_text.find('\n', m_at), m_text.size());
        std::string_view text = m_text.substr(m_at, end - m_at);
        m_at = end + 1;
        while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
            text.remove_suffix(1);
        }
        return Line{++m_number, text};
    }

private:
    std::string_view m_text;
    std::size_t m_at = 0;
    std::size_t m_number = 0;
};

// The bytes a record's digits spell, once they are known to be whole hexadecimal bytes that
// agree with the record's own count: at most the count's 255 and Intel HEX's five around it.
class RecordBytes {
public:
    static constexpr std::size_t kMost = 255 + 5;

    explicit RecordBytes(std::string_view digits) : m_size(digits.size() / 2) {
        for (std::size_t i = 0; i < m_size; ++i) {
            m_bytes[i] = static_cast<std::uint8_t>(DigitValue(digits[2 * i]) * 16 +
                                                   DigitValue(digits[2 * i + 1]));
        }
    }

    std::size_t size() const { return m_size; }
    std::uint8_t operator[](std::size_t i) const { return m_bytes[i]; }
    std::span<const std::uint8_t> Span(std::size_t from, std::size_t count) const {
        return {m_bytes.data() + from, count};
    }
    // The bytes from `from` as one number, most significant first.
    std::uint64_t Number(std::size_t from, std::size_t count) const {
        std::uint64_t value = 0;
        for (std::size_t i = from; i < from + count; ++i) {
            value = value << 8 | m_bytes[i];
        }
        return value;
    }
    // The sum of every byte but the last, the checksum, modulo 256.
    std::uint8_t SumBeforeChecksum() const {
        unsigned sum = 0;
        for (std::size_t i = 0; i + 1 < m_size; ++i) {
            sum += m_bytes[i];
        }
        return static_cast<std::uint8_t>(sum);
    }
    std::uint8_t Checksum() const { return m_bytes[m_size - 1]; }

private:
    std::array<std::uint8_t, kMost> m_bytes{};
    std::size_t m_size;
};

// The bytes of a record's `digits`, checked for form: whole hexadecimal bytes, at least
// `least` of them, and as many as the first, the count, says follow after `beyondCount`
// bytes of the record's own. The size is checked before anything is decoded, however long
// the line.
Result<RecordBytes> Spell(std::string_view digits, std::size_t least, std::size_t beyondCount) {
    using namespace RecordMessages;
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return DigitValue(c) >= 0; })) {
        return Malformed(NotHex);
    }
    if (digits.size() % 2 != 0) {
        return Malformed(OddDigits);
    }
    const std::size_t size = digits.size() / 2;
    if (size < least) {
        return Malformed(FillMessage(TooShort, size, least));
    }
    const auto count = static_cast<std::size_t>(DigitValue(digits[0]) * 16 + DigitValue(digits[1]));
    if (size != count + beyondCount) {
        return Malformed(FillMessage(CountMismatch, count, count, size - beyondCount));
    }
    return RecordBytes(digits);
}

// A record's bytes must add up to this, its checksum included.
Status CheckSum(const RecordBytes& record, std::uint8_t total) {
    const auto makes = static_cast<std::uint8_t>(total - record.SumBeforeChecksum());
    if (record.Checksum() != makes) {
        return Malformed(
            FillMessage(RecordMessages::Checksum, unsigned{record.Checksum()}, unsigned{makes}));
    }
    return {};
}

// A record checked for form: its type, its address, and the field between the address and the
// checksum.
struct Record {
    RecordBytes bytes;
    unsigned type = 0;
    std::uint64_t address = 0;
    std::size_t fieldFrom = 0;

    std::span<const std::uint8_t> Field() const {
        return bytes.Span(fieldFrom, bytes.size() - 1 - fieldFrom);
    }
};

namespace IntelHex {

enum Type : unsigned {
    kData = 0,
    kEndOfFile = 1,
    kExtendedSegmentAddress = 2,
    kStartSegmentAddress = 3,
    kExtendedLinearAddress = 4,
    kStartLinearAddress = 5,
};
constexpr std::size_t kAnyLength = SIZE_MAX;
// The length of each type's field, by type.
constexpr std::array<std::size_t, 6> kFieldLengths = {kAnyLength, 0, 2, 4, 2, 4};
// Count, address (two bytes) and type before the field, the checksum after it.
constexpr std::size_t kAroundField = 5;

// `text` is ":" and the record's digits.
Result<Record> Parse(std::string_view text) {
    auto bytes = Spell(text.substr(1), kAroundField, kAroundField);
    if (!bytes) {
        return Refused(bytes.error());
    }
    if (const Status summed = CheckSum(*bytes, 0); !summed) {
        return Refused(summed.error());
    }
    const Record record{*bytes, (*bytes)[3], bytes->Number(1, 2), 4};
    if (record.type >= kFieldLengths.size()) {
        return Malformed(RecordMessages::UnknownType);
    }
    const std::size_t length = record.Field().size();
    if (kFieldLengths[record.type] != kAnyLength && length != kFieldLengths[record.type]) {
        return Malformed(FillMessage(RecordMessages::FieldLength, record.type,
                                     kFieldLengths[record.type], length));
    }
    return record;
}

}  // namespace IntelHex

namespace SRecords {

enum class Kind { Header, Data, Count, End, Unused };
struct Type {
    std::size_t addressBytes;
    Kind kind;
};
// By the digit after the S: the bytes of the address field and what the record is. The
// address of a count record is the count, and that of an end record where execution starts.
constexpr std::array<Type, 10> kTypes = {{
    {2, Kind::Header},
    {2, Kind::Data},
    {3, Kind::Data},
    {4, Kind::Data},
    {0, Kind::Unused},
    {2, Kind::Count},
    {3, Kind::Count},
    {4, Kind::End},
    {3, Kind::End},
    {2, Kind::End},
}};

// `text` is "S", the type's digit and the record's digits.
Result<Record> Parse(std::string_view text) {
    const int digit = text.size() > 1 ? DigitValue(text[1]) : -1;
    if (digit < 0 || digit > 9 || kTypes[digit].kind == Kind::Unused) {
        return Malformed(RecordMessages::UnknownType);
    }
    const std::size_t addressBytes = kTypes[digit].addressBytes;
    // The count itself before the address, the checksum after the data.
    auto bytes = Spell(text.substr(2), 2 + addressBytes, 1);
    if (!bytes) {
        return Refused(bytes.error());
    }
    if (const Status summed = CheckSum(*bytes, 0xFF); !summed) {
        return Refused(summed.error());
    }
    const Record record{*bytes, static_cast<unsigned>(digit), bytes->Number(1, addressBytes),
                        1 + addressBytes};
    const Kind kind = kTypes[digit].kind;
    if ((kind == Kind::Count || kind == Kind::End) && !record.Field().empty()) {
        return Malformed(FillMessage(RecordMessages::SHasData, digit));
    }
    return record;
}

}  // namespace SRecords

// The data of the records read so far: a record that continues the one before extends its
// segment, any other starts one, named by its line.
class Gathered {
public:
    Status Add(std::uint64_t address, std::span<const std::uint8_t> data, std::size_t line) {
        if (data.empty()) {
            return {};
        }
        if (data.size() > kMostData - m_total) {
            return Malformed(FillMessage(RecordMessages::TooMuchData, kMostData));
        }
        m_total += data.size();
        Segment* last = m_segments.empty() ? nullptr : &m_segments.back();
        if (last && last->address + last->bytes.size() == address) {
            last->bytes.insert(last->bytes.end(), data.begin(), data.end());
        } else {
            m_segments.push_back(
                {address, {data.begin(), data.end()}, "line " + std::to_string(line)});
        }
        return {};
    }
    std::vector<Segment> Take() { return std::move(m_segments); }

private:
    std::vector<Segment> m_segments;
    std::size_t m_total = 0;
};

class IntelHexReader {
public:
    static constexpr char kMarker = ':';

    Status Read(std::string_view text, std::size_t line) {
        const auto record = IntelHex::Parse(text);
        if (!record) {
            return Refused(record.error());
        }
        switch (record->type) {
            case IntelHex::kData:
                return TakeData(static_cast<std::uint32_t>(record->address), record->Field(), line);
            case IntelHex::kEndOfFile:
                m_endLine = m_endLine.value_or(line);
                break;
            case IntelHex::kExtendedSegmentAddress:
                m_base = record->bytes.Number(record->fieldFrom, 2) << 4;
                m_segmented = true;
                break;
            case IntelHex::kExtendedLinearAddress:
                m_base = record->bytes.Number(record->fieldFrom, 2) << 16;
                m_segmented = false;
                break;
            default:
                // Where execution starts: the bootloader is never told.
                break;
        }
        return {};
    }

    Status Finish() const {
        if (!m_endLine) {
            return Malformed(RecordMessages::NoEnd);
        }
        return {};
    }

    std::vector<Segment> Take() { return m_data.Take(); }

private:
    static constexpr std::uint32_t kSegmentSize = 65536;

    Status TakeData(std::uint32_t offset, std::span<const std::uint8_t> data, std::size_t line) {
        if (m_endLine) {
            return Malformed(FillMessage(RecordMessages::AfterEnd, *m_endLine));
        }
        // A segment's offsets wrap round within its 64 KiB; a linear address runs on.
        if (m_segmented && offset + data.size() > kSegmentSize) {
            const std::size_t before = kSegmentSize - offset;
            if (const Status added = m_data.Add(m_base + offset, data.first(before), line);
                !added) {
                return added;
            }
            return m_data.Add(m_base, data.subspan(before), line);
        }
        return m_data.Add(m_base + offset, data, line);
    }

    Gathered m_data;
    std::uint64_t m_base = 0;
    bool m_segmented = false;
    std::optional<std::size_t> m_endLine;
};

class SRecordReader {
public:
    static constexpr char kMarker = 'S';

    Status Read(std::string_view text, std::size_t line) {
        const auto record = SRecords::Parse(text);
        if (!record) {
            return Refused(record.error());
        }
        switch (SRecords::kTypes[record->type].kind) {
            case SRecords::Kind::Data:
                return TakeData(record->address, record->Field(), line);
            case SRecords::Kind::Count:
                return CheckCount(record->address);
            case SRecords::Kind::End:
                m_endLine = m_endLine.value_or(line);
                break;
            default:
                // The header's text names the file; it is no part of the image.
                break;
        }
        return {};
    }

    // An S-record file may end without its end record: that record says only where execution
    // starts.
    Status Finish() const { return {}; }

    std::vector<Segment> Take() { return m_data.Take(); }

private:
    Status TakeData(std::uint64_t address, std::span<const std::uint8_t> data, std::size_t line) {
        if (m_endLine) {
            return Malformed(FillMessage(RecordMessages::AfterEnd, *m_endLine));
        }
        ++m_dataRecords;
        return m_data.Add(address, data, line);
    }

    Status CheckCount(std::uint64_t count) const {
        if (count != m_dataRecords) {
            return Malformed(FillMessage(RecordMessages::DataCount, static_cast<std::size_t>(count),
                                         m_dataRecords));
        }
        return {};
    }

    Gathered m_data;
    std::size_t m_dataRecords = 0;
    std::optional<std::size_t> m_endLine;
};

template <typename Reader>
Result<std::vector<Segment>> ReadLines(std::span<const std::uint8_t> bytes, const std::string& name,
                                       Reader reader) {
    Lines lines(bytes);
    while (const auto line = lines.Next()) {
        if (line->text.empty()) {
            continue;
        }
        if (line->text[0] != Reader::kMarker) {
            return Malformed(name + ": " + FillMessage(RecordMessages::NotARecord, line->number));
        }
        if (const Status read = reader.Read(line->text, line->number); !read) {
            return Malformed(name + ": " + std::to_string(line->number) + ": " +
                             read.error().Words());
        }
    }
    if (const Status ended = reader.Finish(); !ended) {
        return Malformed(name + ": " + ended.error().Words());
    }
    return reader.Take();
}

}  // namespace

Result<std::vector<Segment>> ReadRecordFile(std::span<const std::uint8_t> bytes,
                                            const std::string& name, InputFormat format) {
    if (format == InputFormat::IntelHex) {
        return ReadLines(bytes, name, IntelHexReader());
    }
    return ReadLines(bytes, name, SRecordReader());
}

}  // namespace quorvale
