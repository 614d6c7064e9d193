// SPDX-License-Identifier: Apache-2.0
#include "image/firmware_image.h"

#include <algorithm>

#include "files/regular_file.h"

namespace quorvale {
namespace {

// A file that is longer now than when it was measured is being written: what was read may be
// half old, half new.
bool GrewWhileRead(int fd) {
    std::uint8_t extra = 0;
    std::size_t got = 0;
    return !ReadFully(fd, &extra, 1, got) || got != 0;
}

}  // namespace

LoadResult FirmwareImage::Load(const std::string& path) {
    off_t size = 0;
    const FileDescriptor file(OpenRegularFile(path, size));
    if (file.get() < 0) {
        return LoadOpenFailed;
    }
    // The whole 64-bit size is compared, so a file of 4 GiB plus a few bytes is too large
    // rather than taken for a small one.
    if (size <= static_cast<off_t>(HeaderSize) || size > static_cast<off_t>(BufferSize)) {
        return LoadBadSize;
    }
    const auto fileSize = static_cast<std::size_t>(size);
    std::size_t got = 0;
    if (!ReadFully(file.get(), m_buffer.data(), fileSize, got) || got != fileSize ||
        GrewWhileRead(file.get())) {
        return LoadReadFailed;
    }
    return Validate(fileSize);
}

LoadResult FirmwareImage::LoadBytes(std::span<const std::uint8_t> file) {
    if (file.size() <= HeaderSize || file.size() > BufferSize) {
        return LoadBadSize;
    }
    std::copy(file.begin(), file.end(), m_buffer.begin());
    return Validate(file.size());
}

LoadResult FirmwareImage::Validate(std::size_t fileSize) const {
    const std::size_t start = GetStartAddress();
    const std::size_t length = GetLength();
    if (length + HeaderSize != fileSize) {
        return LoadBadSize;
    }
    if (start % PageSize != 0 || length % PageSize != 0) {
        return LoadPageError;
    }
    if (start + length > MaxDataSize) {
        return LoadBeyond64k;
    }
    return Crc16(GetData(), length) == GetChecksum() ? LoadOk : LoadBadChecksum;
}

}  // namespace quorvale
