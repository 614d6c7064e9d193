// SPDX-License-Identifier: Apache-2.0
// The Intel HEX and S-record reader: where each record's data lands, and every malformed line
// refused with the file's name, the line and what is wrong.
#include "image/record_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "support/record_text.h"

namespace quorvale {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::HexData;
using test::HexRecord;
using test::kHexEnd;
using test::SData;
using test::SRecord;

Bytes Counting(std::size_t count, std::uint8_t from) {
    Bytes data(count);
    std::iota(data.begin(), data.end(), from);
    return data;
}

Bytes Part(const Bytes& bytes, std::size_t from, std::size_t count) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

Result<std::vector<Segment>> Read(const std::string& text, InputFormat format) {
    return ReadRecordFile({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()},
                          "fw.txt", format);
}

// The hexadecimal digits in lower case.
std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](char c) {
        return c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return text;
}

std::string Crlf(const std::string& text) {
    std::string crlf;
    for (const char c : text) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    return crlf;
}

struct Expected {
    std::uint64_t address;
    Bytes bytes;
    std::string where;
};

TEST(RecordFile, EachRecordsDataLandsAtItsAddress) {
    const Bytes a = Counting(32, 0);
    const Bytes b = Counting(16, 0x80);
    const struct {
        const char* name;
        InputFormat format;
        std::string text;
        std::vector<Expected> segments;
    } cases[] = {
        {"records that continue one another are one segment, named by the first line",
         InputFormat::IntelHex,
         HexData(0x1000, a) + HexData(0x2000, b) + kHexEnd,
         {{0x1000, a, "line 1"}, {0x2000, b, "line 3"}}},
        {"CRLF, lower case, blank lines between records and at the end, an empty data record",
         InputFormat::IntelHex,
         Crlf(Lower(HexData(0x1000, b) + "\n" + HexRecord(0, 0x1010, {}) + kHexEnd + "\n\n")),
         {{0x1000, b, "line 1"}}},
        {"an extended segment address: offsets wrap round within the segment",
         InputFormat::IntelHex,
         HexRecord(2, 0, {0x10, 0x00}) + HexRecord(0, 0xFFF8, b) + kHexEnd,
         {{0x1FFF8, Part(b, 0, 8), "line 2"}, {0x10000, Part(b, 8, 8), "line 2"}}},
        {"an extended linear address runs on past 64 KiB; start addresses change nothing",
         InputFormat::IntelHex,
         HexRecord(4, 0, {0x08, 0x00}) + HexRecord(5, 0, {0x08, 0, 0, 0}) +
             HexRecord(0, 0xFFF8, b) + HexRecord(3, 0, {0, 0, 0, 0}) + kHexEnd,
         {{0x0800FFF8, b, "line 3"}}},
        {"a linear address after a segment one, and back",
         InputFormat::IntelHex,
         HexRecord(2, 0, {0x10, 0x00}) + HexRecord(4, 0, {0x00, 0x02}) + HexData(0x10, b) +
             HexRecord(2, 0, {0x00, 0x01}) + HexData(0x10, b) + kHexEnd,
         {{0x20010, b, "line 3"}, {0x20, b, "line 5"}}},
        {"S0 header, S1 data, S5 count, S9 end",
         InputFormat::SRecord,
         SRecord('0', 2, 0, {'f', 'w'}) + SData('1', 2, 0x1000, a) + SRecord('5', 2, 1, {}) +
             SRecord('9', 2, 0x1000, {}),
         {{0x1000, a, "line 2"}}},
        {"S2 data, S6 count, S8 end; lower case and CRLF",
         InputFormat::SRecord,
         Crlf(SData('2', 3, 0x012345, b) + SRecord('6', 3, 1, {}) +
              Lower(SRecord('8', 3, 0x012345, {}))),
         {{0x012345, b, "line 1"}}},
        {"S3 data and S7 end",
         InputFormat::SRecord,
         SData('3', 4, 0x08001000, a) + SRecord('7', 4, 0x08001000, {}),
         {{0x08001000, a, "line 1"}}},
        {"an S-record file may end without its end record",
         InputFormat::SRecord,
         SData('1', 2, 0x1000, b),
         {{0x1000, b, "line 1"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto segments = Read(c.text, c.format);
        ASSERT_TRUE(segments) << segments.error().Words();
        ASSERT_EQ(segments->size(), c.segments.size());
        for (std::size_t i = 0; i < c.segments.size(); ++i) {
            EXPECT_EQ((*segments)[i].address, c.segments[i].address) << i;
            EXPECT_EQ((*segments)[i].bytes, c.segments[i].bytes) << i;
            EXPECT_EQ((*segments)[i].where, c.segments[i].where) << i;
        }
    }
}

TEST(RecordFile, MalformedLinesAreRefusedSayingTheFileAndTheLine) {
    const std::string data = HexData(0x1000, Counting(16, 0));
    const std::string sData = SData('1', 2, 0x1000, Counting(16, 0));
    // Each changes one line of an otherwise good file.
    const auto withLine = [&](const std::string& line) { return data + line + "\n" + kHexEnd; };
    const auto withSLine = [&](const std::string& line) { return sData + line + "\n"; };
    const std::string good = ":10100000000102030405060708090A0B0C0D0E0F68";
    const struct {
        InputFormat format;
        std::string text;
        const char* words;
    } cases[] = {
        {InputFormat::IntelHex, withLine(":10100000000102030405060708090A0B0C0D0E0G68"),
         "fw.txt: 2: hexadecimal digit expected"},
        {InputFormat::IntelHex, withLine(good + "\r" + good),
         "fw.txt: 2: hexadecimal digit expected"},
        {InputFormat::IntelHex, withLine(good.substr(0, good.size() - 1)),
         "fw.txt: 2: odd number of hexadecimal digits"},
        {InputFormat::IntelHex, withLine(":00000001"),
         "fw.txt: 2: record too short (4 bytes, at least 5)"},
        {InputFormat::IntelHex, withLine(":0F100000000102030405060708090A0B0C0D0E0F68"),
         "fw.txt: 2: byte count 0F (15) where the line holds 16"},
        {InputFormat::IntelHex, withLine(good.substr(0, good.size() - 2) + "69"),
         "fw.txt: 2: checksum mismatch (the record says 69, its bytes make 68)"},
        {InputFormat::IntelHex, withLine(":00000006FA"), "fw.txt: 2: record type not recognised"},
        {InputFormat::IntelHex, withLine(":03000004000100F8"),
         "fw.txt: 2: a type 04 record holds 2 bytes, this one 3"},
        {InputFormat::IntelHex, withLine(":0100000100FE"),
         "fw.txt: 2: a type 01 record holds 0 bytes, this one 1"},
        {InputFormat::IntelHex, withLine(" " + good), "fw.txt: line 2 is not a record"},
        {InputFormat::IntelHex, withLine(sData), "fw.txt: line 2 is not a record"},
        {InputFormat::IntelHex, data, "fw.txt: no end-of-file record: the file may be cut short"},
        {InputFormat::IntelHex, kHexEnd + "\n" + data,
         "fw.txt: 3: data after the end record on line 1"},
        {InputFormat::SRecord, withSLine("S4031000EC"), "fw.txt: 2: record type not recognised"},
        {InputFormat::SRecord, withSLine("SX031000EC"), "fw.txt: 2: record type not recognised"},
        {InputFormat::SRecord, withSLine("S10210ED"),
         "fw.txt: 2: record too short (3 bytes, at least 4)"},
        {InputFormat::SRecord, withSLine("S1041000EC"),
         "fw.txt: 2: byte count 04 (4) where the line holds 3"},
        {InputFormat::SRecord, withSLine("S9031000ED"),
         "fw.txt: 2: checksum mismatch (the record says ED, its bytes make EC)"},
        {InputFormat::SRecord, withSLine("S5030002FA"),
         "fw.txt: 2: data record count mismatch (file 2, read 1)"},
        {InputFormat::SRecord, withSLine("S904100000EB"), "fw.txt: 2: an S9 record holds no data"},
        {InputFormat::SRecord, withSLine("s9031000EC"), "fw.txt: line 2 is not a record"},
        {InputFormat::SRecord, SRecord('9', 2, 0, {}) + sData,
         "fw.txt: 2: data after the end record on line 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto segments = Read(c.text, c.format);
        ASSERT_FALSE(segments);
        EXPECT_EQ(segments.error().Kind(), ErrorKind::Malformed);
        EXPECT_EQ(segments.error().Words(), c.words);
    }
}

// Identical data may come twice, but a file far larger than any image is refused before it
// is all held.
TEST(RecordFile, DataFarBeyondAnImageIsRefused) {
    const std::string record = HexRecord(0, 0, Counting(255, 0));
    std::string text;
    for (int i = 0; i < 16 * 257 + 1; ++i) {
        text += record;
    }
    const auto segments = Read(text + kHexEnd, InputFormat::IntelHex);
    ASSERT_FALSE(segments);
    EXPECT_EQ(segments.error().Words(),
              "fw.txt: 4113: more than 1048576 bytes of data, far beyond a 64 KiB image");
}

}  // namespace
}  // namespace quorvale
