// SPDX-License-Identifier: Apache-2.0
// Whole files on Win32: CreateFileA with read sharing, the size, and reads through a C
// runtime descriptor over the handle.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>

#include "files/regular_file.h"

namespace quorvale {
namespace {

int ErrnoFor(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
            return EACCES;
        default:
            return EIO;
    }
}

Refusal Failure(const std::string& what) {
    return Refused(Error::FromSystem(static_cast<long>(GetLastError()), what));
}

}  // namespace

FileDescriptor::~FileDescriptor() {
    if (m_fd >= 0) {
        ::_close(m_fd);
    }
}

int OpenRegularFile(const std::string& path, off_t& size) {
    // A directory can't be opened this way at all; a device or a pipe can, and is refused.
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errno = ErrnoFor(GetLastError());
        return -1;
    }
    LARGE_INTEGER length{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &length)) {
        CloseHandle(file);
        errno = EINVAL;
        return -1;
    }
    // Anything this large is far past every limit; it need not be measured exactly.
    size = static_cast<off_t>(length.QuadPart > INT_MAX ? INT_MAX : length.QuadPart);
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(file);
    }
    return fd;
}

Status CreateNewFile(const std::string& path, std::span<const std::uint8_t> bytes, bool) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return Failure("cannot create '" + path + "'");
    }
    DWORD written = 0;
    const bool ok =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size() && FlushFileBuffers(file);
    if (!ok) {
        auto failure = Failure("cannot write '" + path + "'");
        CloseHandle(file);
        DeleteFileA(path.c_str());
        return failure;
    }
    CloseHandle(file);
    return {};
}

Status WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes) {
    const std::string temporary = path + ".tmp" + std::to_string(GetCurrentProcessId()) + "-" +
                                  std::to_string(GetTickCount64());
    const HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return Failure("cannot create a file beside '" + path + "'");
    }
    DWORD written = 0;
    const bool ok =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size() && FlushFileBuffers(file);
    CloseHandle(file);
    if (!ok || !MoveFileExA(temporary.c_str(), path.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        auto failure = Failure("cannot write '" + path + "'");
        DeleteFileA(temporary.c_str());
        return failure;
    }
    return {};
}

}  // namespace quorvale
