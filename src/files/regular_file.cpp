// SPDX-License-Identifier: Apache-2.0
// What reads and writes whole files the same way on every system.
#include "files/regular_file.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "files/digest.h"

namespace quorvale {

std::string HexDigits(std::span<const std::uint8_t> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
    const auto digest = Sha256(bytes);
    return digest ? HexDigits(*digest) : std::string();
}

bool ReadFully(int fd, std::uint8_t* into, std::size_t count, std::size_t& got) {
    got = 0;
    while (got < count) {
        const ssize_t n = ::read(fd, into + got, count - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

Result<std::vector<std::uint8_t>> ReadSmallFile(const std::string& path, std::size_t limit) {
    off_t size = 0;
    const FileDescriptor file(OpenRegularFile(path, size));
    if (file.get() < 0) {
        if (errno == EINVAL) {
            return Refused({ErrorKind::NotRegularFile, 0, "'" + path + "' is not a regular file"});
        }
        return Refused(Error::FromSystem(errno, "cannot open '" + path + "'"));
    }
    // One byte past the limit tells a file that is too large, even one that grew. The buffer
    // starts as large as the file says it is, not as the limit allows, and grows only if the
    // file did.
    const std::size_t expected = size > 0 ? static_cast<std::size_t>(size) : 0;
    std::vector<std::uint8_t> bytes(std::min(expected, limit) + 1);
    std::size_t got = 0;
    for (;;) {
        std::size_t more = 0;
        if (!ReadFully(file.get(), bytes.data() + got, bytes.size() - got, more)) {
            return Refused(Error::FromSystem(errno, "cannot read '" + path + "'"));
        }
        got += more;
        if (got < bytes.size() || bytes.size() > limit) {
            break;
        }
        bytes.resize(std::min(bytes.size() * 2, limit + 1));
    }
    bytes.resize(got);
    if (bytes.size() > limit) {
        return Refused({ErrorKind::TooLarge, 0,
                        "'" + path + "' is larger than " + std::to_string(limit) + " bytes"});
    }
    return bytes;
}

}  // namespace quorvale
