// SPDX-License-Identifier: Apache-2.0
// Appending on Win32: a handle with FILE_APPEND_DATA alone, which makes every write land at
// the end of the file as one piece, whoever else holds it open.
#include <windows.h>

#include "files/append_file.h"

namespace quorvale {
namespace {

HANDLE AsHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

Refusal Failure(const std::string& what) {
    return Refused(Error::FromSystem(static_cast<long>(GetLastError()), what));
}

}  // namespace

AppendFile::~AppendFile() {
    CloseHandle(AsHandle(m_handle));
}

Result<std::unique_ptr<AppendFile>> AppendFile::Open(const std::string& path) {
    const HANDLE handle =
        CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return Failure("cannot open '" + path + "' for appending");
    }
    return std::unique_ptr<AppendFile>(
        new AppendFile(reinterpret_cast<std::intptr_t>(handle), path));
}

Status AppendFile::AppendLine(std::string_view line) {
    std::string whole(line);
    whole += "\r\n";
    DWORD written = 0;
    if (!WriteFile(AsHandle(m_handle), whole.data(), static_cast<DWORD>(whole.size()), &written,
                   nullptr) ||
        written != whole.size()) {
        return Failure("cannot append to '" + m_path + "'");
    }
    return {};
}

}  // namespace quorvale
