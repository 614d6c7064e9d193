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

std::string Failure(const std::string& what) {
    return what + " (Windows error " + std::to_string(GetLastError()) + ")";
}

}  // namespace

AppendFile::~AppendFile() {
    CloseHandle(AsHandle(m_handle));
}

std::unique_ptr<AppendFile> AppendFile::Open(const std::string& path, std::string& error) {
    const HANDLE handle =
        CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = Failure("cannot open '" + path + "' for appending");
        return nullptr;
    }
    return std::unique_ptr<AppendFile>(
        new AppendFile(reinterpret_cast<std::intptr_t>(handle), path));
}

bool AppendFile::AppendLine(std::string_view line, std::string& error) {
    std::string whole(line);
    whole += "\r\n";
    DWORD written = 0;
    if (!WriteFile(AsHandle(m_handle), whole.data(), static_cast<DWORD>(whole.size()), &written,
                   nullptr) ||
        written != whole.size()) {
        error = Failure("cannot append to '" + m_path + "'");
        return false;
    }
    return true;
}

}  // namespace quorvale
