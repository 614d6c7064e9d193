// SPDX-License-Identifier: Apache-2.0
// Packing the forms a controller's build emits: each must give, byte for byte, the file that
// packing the same image as raw binary gives, and malformed input must be refused.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

#include "cli/command_line.h"
#include "support/record_text.h"

namespace quorvale {
namespace {

using test::Args;
using test::Bytes;
using test::CommandLineTest;
using test::HexData;
using test::HexRecord;
using test::kHexEnd;
using test::ProcessResult;
using test::ReadBytes;
using test::RunQuorvale;
using test::SData;
using test::SRecord;

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes Pattern(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
    }
    return bytes;
}

struct ElfSegment {
    std::uint32_t type;
    std::uint64_t physical;
    std::uint64_t virtualAddress;
    Bytes bytes;
};

// A minimal ELF executable: header, program headers, then each segment's bytes.
Bytes Elf(bool wide, bool bigEndian, const std::vector<ElfSegment>& segments) {
    const unsigned word = wide ? 8 : 4;
    const std::size_t headerSize = wide ? 64 : 52;
    const std::size_t entrySize = wide ? 56 : 32;
    Bytes file(headerSize + entrySize * segments.size(), 0);
    const auto put = [&](std::size_t at, std::uint64_t value, unsigned size) {
        for (unsigned i = 0; i < size; ++i) {
            file[at + (bigEndian ? size - 1 - i : i)] = static_cast<std::uint8_t>(value >> (8 * i));
        }
    };
    file[0] = 0x7F, file[1] = 'E', file[2] = 'L', file[3] = 'F';
    file[4] = wide ? 2 : 1;
    file[5] = bigEndian ? 2 : 1;
    file[6] = 1;
    put(16, 2, 2);  // executable
    put(wide ? 32 : 28, headerSize, word);
    put(wide ? 54 : 42, entrySize, 2);
    put(wide ? 56 : 44, segments.size(), 2);
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const std::size_t at = headerSize + i * entrySize;
        const ElfSegment& s = segments[i];
        put(at, s.type, 4);
        put(at + (wide ? 8 : 4), file.size(), word);
        put(at + (wide ? 16 : 8), s.virtualAddress, word);
        put(at + (wide ? 24 : 12), s.physical, word);
        put(at + (wide ? 32 : 16), s.bytes.size(), word);
        put(at + (wide ? 40 : 20), s.bytes.size() + 64, word);
        file.insert(file.end(), s.bytes.begin(), s.bytes.end());
    }
    return file;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

struct FormatCase {
    const char* name;
    Bytes input;
    Args options;    // beyond --baud, --hardware and --version
    unsigned start;  // of the raw equivalent
    Bytes raw;
};

TEST_F(CommandLineTest, EachFormatPacksAsItsRawEquivalent) {
    const Bytes a = Pattern(300, 1);
    const Bytes b = Pattern(16, 99);
    const Bytes gap = Concat({Bytes(0x10, 0xFF), b, Bytes(0x300 - 0x20, 0xFF), b});
    const FormatCase cases[] = {
        {"HEX", Text(HexData(0x1000, a) + kHexEnd), {}, 0x1000, a},
        {"HEX, extended linear address, --base",
         Text(HexRecord(4, 0, {0x08, 0x00}) + HexData(0x1000, a) + kHexEnd),
         {"--base", "0x08000000"},
         0x1000,
         a},
        {"HEX, extended segment address",
         Text(HexRecord(2, 0, {0x01, 0x00}) + HexData(0, a) + kHexEnd),
         {},
         0x1000,
         a},
        {"HEX with a gap, CRLF lines",
         [&] {
             std::string crlf;
             for (const char c : HexData(0x1010, b) + HexData(0x1300, b) + kHexEnd) {
                 crlf += c == '\n' ? "\r\n" : std::string(1, c);
             }
             return Text(crlf);
         }(),
         {},
         0x1000,
         gap},
        {"HEX ending at the top of the 64 KiB",
         Text(HexData(0xFF00, Pattern(256, 4)) + kHexEnd),
         {},
         0xFF00,
         Pattern(256, 4)},
        {"HEX with the same data twice",
         Text(HexData(0x1000, a) + HexData(0x1000, a) + kHexEnd),
         {},
         0x1000,
         a},
        {"HEX, --start below the data",
         Text(HexData(0x1010, b) + kHexEnd),
         {"--start", "0x0E00"},
         0x0E00,
         Concat({Bytes(0x210, 0xFF), b})},
        {"S1 with a header and S9",
         Text(SRecord('0', 2, 0, Text("fw")) + SData('1', 2, 0x1000, a) + SRecord('9', 2, 0, {})),
         {},
         0x1000,
         a},
        {"S3 and S7, --base",
         Text(SData('3', 4, 0x08001000, a) + SRecord('7', 4, 0x08001000, {})),
         {"--base", "0x08000000"},
         0x1000,
         a},
        {"ELF32 little-endian: loadable segments only, at their physical addresses",
         Elf(false, false,
             {{1, 0x1000, 0x8000, a},
              {4, 0x1400, 0x1400, b},
              {1, 0x1300, 0x1300, b},
              {1, 0x2000, 0x2000, {}}}),
         {},
         0x1000,
         Concat({a, Bytes(0x300 - a.size(), 0xFF), b})},
        {"ELF64 big-endian, --base",
         Elf(true, true, {{1, 0x20001000, 0x1000, a}}),
         {"--base", "0x20000000"},
         0x1000,
         a},
    };
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string input = m_dir.Write("input", c.input);
        const std::string raw = m_dir.Write("raw.bin", c.raw);
        const Args common{"--baud", "57600", "--hardware", "7", "--version", "2"};
        Args packed{"pack", input, m_dir.File("packed.qvx")};
        packed.insert(packed.end(), common.begin(), common.end());
        packed.insert(packed.end(), c.options.begin(), c.options.end());
        Args fromRaw{"pack", raw, m_dir.File("raw.qvx"), "--start", std::to_string(c.start)};
        fromRaw.insert(fromRaw.end(), common.begin(), common.end());

        const ProcessResult result = RunQuorvale(packed);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        ASSERT_EQ(RunQuorvale(fromRaw).exitCode, 0);
        EXPECT_EQ(ReadBytes(m_dir.File("packed.qvx")), ReadBytes(m_dir.File("raw.qvx")));
    }
}

// Where `name` is on the PATH; empty when it is not installed.
std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::string candidate = folder + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

// The same random image as another tool writes it, in each form a build may emit: the reader
// must take every record length, address width, addressing and line end as the raw bytes.
TEST_F(CommandLineTest, RecordFilesSrecCatWritesPackAsTheirRawEquivalent) {
    const std::string srecCat = FindProgram("srec_cat");
    if (srecCat.empty()) {
        GTEST_SKIP() << "srec_cat is not installed (Debian package srecord, which "
                        "scripts/setup.sh installs)";
    }
    // 12 KiB of random bytes with runs of erased flash, one over parts of two pages and one of
    // two whole pages, which srec_cat leaves out as gaps. It starts and ends with data, so the
    // records span exactly the raw image's pages.
    std::mt19937 random(20261211);
    Bytes image(0x3000);
    std::generate(image.begin(), image.end(), [&] { return static_cast<std::uint8_t>(random()); });
    std::fill(image.begin() + 0x210, image.begin() + 0x340, 0xFF);
    std::fill(image.begin() + 0x1000, image.begin() + 0x1200, 0xFF);
    image.front() = 0, image.back() = 0;
    const std::string raw = m_dir.Write("image.bin", image);
    const Args common{"--baud", "57600", "--hardware", "7", "--version", "2"};
    Args fromRaw{"pack", raw, m_dir.File("raw.qvx"), "--start", "0x1000"};
    fromRaw.insert(fromRaw.end(), common.begin(), common.end());
    ASSERT_EQ(RunQuorvale(fromRaw).exitCode, 0);
    const Bytes expected = ReadBytes(m_dir.File("raw.qvx"));

    // The image lies 0x1000 above the base; the bases make the records cross a 64 KiB
    // boundary, where a new extended address record (or a wider address) takes over.
    const struct {
        const char* name;
        std::uint32_t base;
        Args form;
    } cases[] = {
        {"Intel HEX, 16-bit addresses only, 16-byte records",
         0,
         {"-Intel", "-Address_Length=2", "-Output_Block_Size", "16"}},
        {"Intel HEX, segment addressing, 32-byte records, a start address",
         0x3E000,
         {"-Intel", "-Address_Length=3", "-Output_Block_Size", "32", "-Execution_Start_Address",
          "0x3F000"}},
        {"Intel HEX, linear addressing, 255-byte records, CRLF, a start address",
         0x0800E800,
         {"-Intel", "-Output_Block_Size", "255", "-Line_Termination", "CRLF",
          "-Execution_Start_Address", "0x0800F800"}},
        {"S19, 16-byte records", 0, {"-Motorola", "-Address_Length=2", "-Output_Block_Size", "16"}},
        {"S19, 252-byte records, S9",
         0,
         {"-Motorola", "-Address_Length=2", "-Output_Block_Size", "252", "-Execution_Start_Address",
          "0x1000"}},
        {"S28, 251-byte records, S8",
         0x3E000,
         {"-Motorola", "-Address_Length=3", "-Output_Block_Size", "251", "-Execution_Start_Address",
          "0x3F000"}},
        {"S37, 32-byte records, CRLF, S7",
         0x0800E800,
         {"-Motorola", "-Address_Length=4", "-Output_Block_Size", "32", "-Line_Termination", "CRLF",
          "-Execution_Start_Address", "0x0800F800"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string records = m_dir.File("image.txt");
        Args write{srecCat,   raw,    "-Binary", "-offset", std::to_string(c.base + 0x1000),
                   "-Unfill", "0xFF", "16",      "-o",      records};
        write.insert(write.end(), c.form.begin(), c.form.end());
        const ProcessResult written = test::Run(write);
        ASSERT_EQ(written.exitCode, 0) << written.err;
        Args packed{"pack", records, m_dir.File("packed.qvx"), "--base", std::to_string(c.base)};
        packed.insert(packed.end(), common.begin(), common.end());
        const ProcessResult result = RunQuorvale(packed);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(ReadBytes(m_dir.File("packed.qvx")), expected);
    }
}

TEST_F(CommandLineTest, MalformedOrImpossibleInputIsRefusedSayingWhere) {
    const Bytes a = Pattern(32, 5);
    const Bytes b16 = Pattern(16, 6);
    std::string badChecksum = HexData(0x1000, a);
    badChecksum[badChecksum.size() - 2] ^= 1;  // the second record's checksum
    std::string badText = HexData(0x1000, a) + kHexEnd;
    badText[badText.find('\n') + 5] = 'G';  // in the second line
    const std::pair<std::string, std::pair<Bytes, Args>> cases[] = {
        {"input: 2: checksum", {Text(badChecksum + kHexEnd), {}}},
        {"input: 2: hexadecimal digit expected", {Text(badText), {}}},
        {"line 3: data at 0x1000 differs from line 1's",
         {Text(HexData(0x1000, a) + HexData(0x1000, Pattern(16, 9)) + kHexEnd), {}}},
        {"lies below --base 0x2000", {Text(HexData(0x1000, a) + kHexEnd), {"--base", "0x2000"}}},
        {"beyond 64 KiB", {Text(HexRecord(4, 0, {0x00, 0x01}) + HexData(0, a) + kHexEnd), {}}},
        {"--start 0x1100 lies above the lowest address, 0x1000",
         {Text(HexData(0x1000, a) + kHexEnd), {"--start", "0x1100"}}},
        {"no data", {Text(kHexEnd), {}}},
        {"program header 0: its data lies beyond the end of the file",
         {[] {
              const Bytes elf = Elf(false, false, {{1, 0x1000, 0x1000, Pattern(64, 1)}});
              return Bytes(elf.begin(), elf.begin() + 90);  // the segment cut short
          }(),
          {}}},
        {"raw binary input needs --start", {Pattern(300, 3), {}}},
        // The library passes over these in silence, which would leave holes in the image.
        {"input: no end-of-file record", {Text(HexData(0x1000, a)), {}}},
        {"input: line 2 is not a record",
         {Text(HexData(0x1000, b16) + "garbage\n" + HexData(0x1100, b16) + kHexEnd), {}}},
        {"input: line 1 is not a record",
         {Concat({{0xEF, 0xBB, 0xBF}, Text(HexData(0x1000, a) + kHexEnd)}), {"--start", "0"}}},
        {"starts like Intel HEX or S-records", {Text(":not a record\n"), {"--start", "0"}}},
        {"program header table",
         {[] {
              Bytes elf = Elf(false, false, {});
              elf[42] = 0, elf[43] = 0, elf[44] = 0xFF, elf[45] = 0xFF;
              return elf;
          }(),
          {}}},
    };
    for (const auto& [message, input] : cases) {
        SCOPED_TRACE(message);
        const std::string output = m_dir.File("out.qvx");
        Args args{"pack",  m_dir.Write("input", input.first),
                  output,  "--baud",
                  "19200", "--hardware",
                  "7",     "--version",
                  "1"};
        args.insert(args.end(), input.second.begin(), input.second.end());
        const ProcessResult result = RunQuorvale(args);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
        EXPECT_EQ(ReadBytes(output), Bytes());
    }
}

}  // namespace
}  // namespace quorvale
