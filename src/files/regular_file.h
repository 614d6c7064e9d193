// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "files/error.h"

namespace quorvale {

// Owns one open file descriptor.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor();
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// Opens a regular file for reading and answers its size. Anything else (directory, FIFO,
// device) answers -1 with errno set, without blocking and without a device ever being opened.
int OpenRegularFile(const std::string& path, off_t& size);

// Reads `count` bytes unless the file ends first; `got` says how many arrived. False when a
// read failed, so a failure is never taken for the end of the file.
bool ReadFully(int fd, std::uint8_t* into, std::size_t count, std::size_t& got);

// Writes through a temporary file in the same folder and renames it over `path`, so that a
// reader sees the old file or the whole new one, never a part.
Status WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes);

// Creates `path` with `bytes`, and only if nothing of that name is there (AlreadyExists
// otherwise); `ownerOnly` keeps it from other users (mode 0600 on Linux; on Windows the
// folder's own protection stands).
Status CreateNewFile(const std::string& path, std::span<const std::uint8_t> bytes, bool ownerOnly);

// Reads a regular file of at most `limit` bytes. Refused when the file can't be read, isn't a
// regular file, or is larger.
Result<std::vector<std::uint8_t>> ReadSmallFile(const std::string& path, std::size_t limit);

}  // namespace quorvale
