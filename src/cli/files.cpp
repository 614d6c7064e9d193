#include "cli/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "image/regular_file.h"

namespace quorvale::cli {
namespace {

std::string SystemError(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

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

std::optional<std::string> WriteFileAtomically(const std::string& path,
                                               std::span<const std::uint8_t> bytes) {
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return SystemError("cannot create a file beside '" + path + "'", errno);
    }
    // mkostemp makes the file private; give it the mode a plain create would have.
    ::fchmod(fd, 0666 & ~CurrentUmask());
    const bool written = WriteAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
    const int writeError = errno;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        ::unlink(temporary.c_str());
        return SystemError("cannot write '" + path + "'", written ? errno : writeError);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int renameError = errno;
        ::unlink(temporary.c_str());
        return SystemError("cannot write '" + path + "'", renameError);
    }
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> ReadSmallFile(const std::string& path, std::size_t limit,
                                                       std::string& error) {
    off_t size = 0;
    const FileDescriptor file(OpenRegularFile(path, size));
    if (file.get() < 0) {
        error = errno == EINVAL ? "'" + path + "' is not a regular file"
                                : SystemError("cannot open '" + path + "'", errno);
        return std::nullopt;
    }
    // One byte past the limit tells a file that is too large, even one that grew.
    std::vector<std::uint8_t> bytes(limit + 1);
    std::size_t got = 0;
    if (!ReadFully(file.get(), bytes.data(), bytes.size(), got)) {
        error = SystemError("cannot read '" + path + "'", errno);
        return std::nullopt;
    }
    bytes.resize(got);
    if (bytes.size() > limit) {
        error = "'" + path + "' is larger than " + std::to_string(limit) + " bytes";
        return std::nullopt;
    }
    return bytes;
}

}  // namespace quorvale::cli
