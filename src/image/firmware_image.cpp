#include "image/firmware_image.h"

#include "image/regular_file.h"

namespace quorvale {

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
    if (!ReadFully(file.get(), m_buffer.data(), fileSize, got) || got != fileSize) {
        return LoadReadFailed;
    }
    return Validate(fileSize);
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
