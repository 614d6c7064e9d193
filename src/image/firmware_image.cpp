#include "image/firmware_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace quorvale {
namespace {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

  private:
    int m_fd;
};

bool IsRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Opens without blocking (a FIFO would otherwise wait for a writer) and without becoming a
// controlling terminal. The path is checked before opening so that no device is ever opened,
// and the descriptor again after, in case the path was replaced in between.
int OpenRegularFile(const std::string& path, off_t& size) {
    if (!IsRegularFile(path)) {
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    size = info.st_size;
    return fd;
}

// Reads exactly `count` bytes unless the file ends or fails first; answers the bytes read.
std::size_t ReadFully(int fd, std::uint8_t* into, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::read(fd, into + done, count - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
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
    if (ReadFully(file.get(), m_buffer.data(), fileSize) != fileSize) {
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
