// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "files/append_file.h"
#include "files/regular_file.h"

namespace quorvale {

AppendFile::~AppendFile() {
    ::close(static_cast<int>(m_handle));
}

std::unique_ptr<AppendFile> AppendFile::Open(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        error = SystemError("cannot open '" + path + "' for appending", errno);
        return nullptr;
    }
    return std::unique_ptr<AppendFile>(new AppendFile(fd, path));
}

bool AppendFile::AppendLine(std::string_view line, std::string& error) {
    std::string whole(line);
    whole += '\n';
    ssize_t written = -1;
    do {
        written = ::write(static_cast<int>(m_handle), whole.data(), whole.size());
    } while (written < 0 && errno == EINTR);
    if (written != static_cast<ssize_t>(whole.size())) {
        error = SystemError("cannot append to '" + m_path + "'", written < 0 ? errno : ENOSPC);
        return false;
    }
    return true;
}

}  // namespace quorvale
