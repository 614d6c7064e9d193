// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "files/error.h"

namespace quorvale {

// A file that is only ever added to, shared by every process that appends to it: each line
// goes out in one write on a descriptor opened for appending, so lines from several writers
// never mix. The file is created if missing (not its folder) and never truncated.
class AppendFile {
public:
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    static Result<std::unique_ptr<AppendFile>> Open(const std::string& path);

    // Appends `line` and a newline; refused when it did not all go.
    Status AppendLine(std::string_view line);

private:
    explicit AppendFile(std::intptr_t handle, std::string path)
        : m_handle(handle), m_path(std::move(path)) {}

    std::intptr_t m_handle;  // the descriptor, or on Windows the handle
    const std::string m_path;
};

}  // namespace quorvale
