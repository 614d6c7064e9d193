// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "image/crc16.h"

namespace quorvale {

enum LoadResult : int {
    LoadOk = 0,
    LoadOpenFailed = 1,
    LoadBadSize = 2,
    LoadPageError = 3,
    LoadReadFailed = 4,
    LoadBeyond64k = 5,
    LoadBadChecksum = 6,
};

// One firmware file exactly as it lies on disk: a 16-byte header, then up to 64 KiB of data.
// The buffer is deliberately left uninitialised; its content means something only after a
// Load that answered LoadOk.
class FirmwareImage {
public:
    static constexpr std::size_t HeaderSize = 16;
    static constexpr std::size_t MaxDataSize = 65536;
    static constexpr std::size_t BufferSize = HeaderSize + MaxDataSize;
    static constexpr std::size_t PageSize = 256;

    FirmwareImage() {}
    FirmwareImage(const FirmwareImage&) = delete;
    FirmwareImage& operator=(const FirmwareImage&) = delete;

    // Reads a regular file into the buffer and validates it. Anything that is not a regular
    // file (directory, FIFO, device) answers LoadOpenFailed without blocking.
    LoadResult Load(const std::string& path);
    // The same checks on a firmware file's bytes already in memory (one a job carries).
    LoadResult LoadBytes(std::span<const std::uint8_t> file);

    unsigned GetBaudRate() const { return ReadBig16(0); }
    std::uint16_t GetChecksum() const { return static_cast<std::uint16_t>(ReadBig16(2)); }
    unsigned GetStartAddress() const { return DecodeField(4); }
    std::uint32_t GetLength() const {
        const unsigned length = DecodeField(6);
        return length == 0 ? MaxDataSize : length;
    }
    // The whole file, header included: what the technician sees as the file's length.
    std::uint32_t GetFileSize() const { return GetLength() + std::uint32_t{HeaderSize}; }
    std::uint8_t GetVersion() const { return m_buffer[13]; }
    std::uint8_t GetHardwareCode() const { return m_buffer[15]; }
    const std::uint8_t* GetData() const { return m_buffer.data() + HeaderSize; }
    // The file's bytes as loaded, header included.
    std::span<const std::uint8_t> GetFileBytes() const { return {m_buffer.data(), GetFileSize()}; }

private:
    unsigned ReadBig16(std::size_t offset) const {
        return (unsigned{m_buffer[offset]} << 8) | m_buffer[offset + 1];
    }
    // Start address and length are stored XORed with the two checksum bytes.
    unsigned DecodeField(std::size_t offset) const {
        return (unsigned(m_buffer[offset] ^ m_buffer[2]) << 8) |
               unsigned(m_buffer[offset + 1] ^ m_buffer[3]);
    }
    LoadResult Validate(std::size_t fileSize) const;

    std::array<std::uint8_t, BufferSize> m_buffer;
};

}  // namespace quorvale
