// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "files/regular_file.h"

namespace quorvale {
namespace {

bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t written = ::write(fd, bytes, count);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

mode_t CurrentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

}  // namespace

FileDescriptor::~FileDescriptor() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

int OpenRegularFile(const std::string& path, off_t& size) {
    // The path is checked before opening so that no device is ever opened, and the descriptor
    // again after, in case the path was replaced in between. O_NONBLOCK keeps a FIFO that
    // slipped through from waiting for a writer.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    size = info.st_size;
    return fd;
}

Status CreateNewFile(const std::string& path, std::span<const std::uint8_t> bytes, bool ownerOnly) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                          ownerOnly ? 0600 : 0666);
    if (fd < 0) {
        return Refused(Error::FromSystem(errno, "cannot create '" + path + "'"));
    }
    const bool written = WriteAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
    const int writeError = errno;
    if (::close(fd) != 0 || !written) {
        ::unlink(path.c_str());
        return Refused(
            Error::FromSystem(written ? errno : writeError, "cannot write '" + path + "'"));
    }
    return {};
}

Status WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes) {
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return Refused(Error::FromSystem(errno, "cannot create a file beside '" + path + "'"));
    }
    // mkostemp makes the file private; give it the mode a plain create would have.
    ::fchmod(fd, 0666 & ~CurrentUmask());
    const bool written = WriteAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
    const int writeError = errno;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        ::unlink(temporary.c_str());
        return Refused(
            Error::FromSystem(written ? errno : writeError, "cannot write '" + path + "'"));
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int renameError = errno;
        ::unlink(temporary.c_str());
        return Refused(Error::FromSystem(renameError, "cannot write '" + path + "'"));
    }
    return {};
}

}  // namespace quorvale
