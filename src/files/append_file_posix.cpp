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

Result<std::unique_ptr<AppendFile>> AppendFile::Open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        return Refused(Error::FromSystem(errno, "cannot open '" + path + "' for appending"));
    }
    return std::unique_ptr<AppendFile>(new AppendFile(fd, path));
}

Status AppendFile::AppendLine(std::string_view line) {
    std::string whole(line);
    whole += '\n';
    ssize_t written = -1;
    do {
        written = ::write(static_cast<int>(m_handle), whole.data(), whole.size());
    } while (written < 0 && errno == EINTR);
    if (written != static_cast<ssize_t>(whole.size())) {
        return Refused(
            Error::FromSystem(written < 0 ? errno : ENOSPC, "cannot append to '" + m_path + "'"));
    }
    return {};
}

}  // namespace quorvale
