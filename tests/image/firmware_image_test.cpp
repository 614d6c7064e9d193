// SPDX-License-Identifier: Apache-2.0
#include "image/firmware_image.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstring>
#include <functional>
#include <numeric>
#include <vector>

#include "image/firmware_file.h"
#include "support/temp_dir.h"

namespace quorvale {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Counting(std::size_t count) {
    Bytes data(count);
    std::iota(data.begin(), data.end(), std::uint8_t{0});
    return data;
}

// The 272-byte example: data 00..FF, 19200 baud, start 4096, version 3, hardware 7.
Bytes ExampleFile() {
    return EncodeFirmwareFile({19200, 4096, 3, 7}, Counting(256));
}

TEST(Crc16, KnownVectors) {
    const char* digits = "123456789";
    EXPECT_EQ(Crc16(reinterpret_cast<const std::uint8_t*>(digits), 9), 0x374B);
    EXPECT_EQ(Crc16(Counting(256).data(), 256), 0x6CDE);
    EXPECT_EQ(Crc16(nullptr, 0), 0xFFFF);
}

TEST(FirmwareImage, ExampleFileHasTheDocumentedHeaderAndLoads) {
    const Bytes file = ExampleFile();
    const Bytes header{0x4B, 0x00, 0x6C, 0xDE, 0x7C, 0xDE, 0x6D, 0xDE,
                       0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x07};
    ASSERT_EQ(file.size(), 272u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 16), header);

    test::TempDir dir;
    FirmwareImage image;
    ASSERT_EQ(image.Load(dir.Write("example.qvx", file)), LoadOk);
    EXPECT_EQ(image.GetBaudRate(), 19200u);
    EXPECT_EQ(image.GetStartAddress(), 4096u);
    EXPECT_EQ(image.GetLength(), 256u);
    EXPECT_EQ(image.GetVersion(), 3);
    EXPECT_EQ(image.GetHardwareCode(), 7);
    EXPECT_EQ(image.GetChecksum(), 0x6CDE);
    EXPECT_EQ(std::memcmp(image.GetData(), file.data() + 16, 256), 0);
}

TEST(FirmwareImage, FullSixtyFourKilobyteImageStoresLengthAsZero) {
    test::TempDir dir;
    FirmwareImage image;
    const Bytes file = EncodeFirmwareFile({9600, 0, 1, 2}, Bytes(65536, 0x5A));
    ASSERT_EQ(file.size(), 65552u);
    ASSERT_EQ(image.Load(dir.Write("full.qvx", file)), LoadOk);
    EXPECT_EQ(image.GetLength(), 65536u);
    EXPECT_EQ(image.GetStartAddress(), 0u);
}

// Rewrites the coded length or start address of a file in place, keeping its checksum bytes.
void SetCoded(Bytes& file, std::size_t offset, unsigned value) {
    file[offset] = static_cast<std::uint8_t>((value >> 8) ^ file[2]);
    file[offset + 1] = static_cast<std::uint8_t>((value & 0xFF) ^ file[3]);
}

struct LoadCase {
    const char* name;
    std::function<Bytes()> make;
    LoadResult expected;
};

TEST(FirmwareImage, LoadAnswersEachCheckInOrder) {
    const std::vector<LoadCase> cases = {
        {"empty file", [] { return Bytes{}; }, LoadBadSize},
        {"header only", [] { return Bytes(16, 0); }, LoadBadSize},
        {"one byte too large", [] { return Bytes(65553, 0); }, LoadBadSize},
        {"length field says 512",
         [] {
             Bytes f = ExampleFile();
             SetCoded(f, 6, 512);
             return f;
         },
         LoadBadSize},
        {"size mismatch wins over page error",
         [] {
             Bytes f = ExampleFile();
             SetCoded(f, 6, 0x0180);
             return f;
         },
         LoadBadSize},
        {"start 0x0180",
         [] {
             return EncodeFirmwareFile({19200, 0x0180, 0, 0}, Counting(256));
         },
         LoadPageError},
        {"length not whole pages",
         [] {
             return EncodeFirmwareFile({1, 0, 0, 0}, Counting(128));
         },
         LoadPageError},
        {"page error wins over beyond 64k",
         [] {
             return EncodeFirmwareFile({1, 0xFF80, 0, 0}, Counting(256));
         },
         LoadPageError},
        {"start 0xFF00 with one page ends at 64k",
         [] {
             return EncodeFirmwareFile({1, 0xFF00, 0, 0}, Counting(256));
         },
         LoadOk},
        {"start 0xFF00 with two pages",
         [] {
             return EncodeFirmwareFile({1, 0xFF00, 0, 0}, Counting(512));
         },
         LoadBeyond64k},
        {"64k of data from 0x0100",
         [] {
             return EncodeFirmwareFile({1, 0x0100, 0, 0}, Bytes(65536, 1));
         },
         LoadBeyond64k},
        {"one data byte changed",
         [] {
             Bytes f = ExampleFile();
             f[16 + 100] ^= 0x01;
             return f;
         },
         LoadBadChecksum},
        {"checksum byte 2 changed moves the length",
         [] {
             Bytes f = ExampleFile();
             f[2] ^= 0x01;
             return f;
         },
         LoadBadSize},
        {"checksum byte 3 changed moves the length",
         [] {
             Bytes f = ExampleFile();
             f[3] ^= 0x80;
             return f;
         },
         LoadBadSize},
        {"unused header bytes are ignored",
         [] {
             Bytes f = ExampleFile();
             for (std::size_t i : {8, 9, 10, 11, 12, 14}) {
                 f[i] = 0xA5;
             }
             return f;
         },
         LoadOk},
    };
    test::TempDir dir;
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareImage image;
        EXPECT_EQ(image.Load(dir.Write("case.qvx", c.make())), c.expected);
    }
}

TEST(FirmwareImage, RejectedFileStaysInTheBuffer) {
    test::TempDir dir;
    Bytes file = ExampleFile();
    file[16] = 0x99;
    FirmwareImage image;
    ASSERT_EQ(image.Load(dir.Write("bad.qvx", file)), LoadBadChecksum);
    EXPECT_EQ(image.GetData()[0], 0x99);
}

#ifndef _WIN32
// POSIX file kinds: sysfs, FIFOs and devices.
TEST(FirmwareImage, ShortReadIsAReadFailure) {
    // sysfs files claim a page-sized length but deliver only their few bytes of text.
    const char* shortFile = "/sys/devices/system/cpu/online";
    struct stat info {};
    if (::stat(shortFile, &info) != 0 || info.st_size <= 16 || info.st_size > 65552) {
        GTEST_SKIP() << "no sysfs file that reads short";
    }
    FirmwareImage image;
    EXPECT_EQ(image.Load(shortFile), LoadReadFailed);
}

TEST(FirmwareImage, OnlyRegularFilesOpen) {
    test::TempDir dir;
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {dir.File("missing.qvx"), dir.path(), fifo,
                                    std::string("/dev/zero"), std::string("/dev/null")}) {
        SCOPED_TRACE(path);
        FirmwareImage image;
        EXPECT_EQ(image.Load(path), LoadOpenFailed);
    }
}
#endif

}  // namespace
}  // namespace quorvale
