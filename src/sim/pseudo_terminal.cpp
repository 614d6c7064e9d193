// SPDX-License-Identifier: Apache-2.0
#include "sim/pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace quorvale::sim {
namespace {

[[noreturn]] void ThrowSystemError(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

// Declared in line_state_linux.cpp, which alone sees the kernel's termios2.
LineState ReadLineStateOf(int fd);

PseudoTerminal::PseudoTerminal() {
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0) {
        ThrowSystemError("posix_openpt");
    }
    char name[128] = {};
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0 ||
        ::ptsname_r(m_master, name, sizeof name) != 0) {
        ::close(m_master);
        ThrowSystemError("pseudo-terminal set-up");
    }
    m_slavePath = name;
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0) {
        ::close(m_master);
        ThrowSystemError("open terminal side");
    }
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

PseudoTerminal::~PseudoTerminal() {
    Close();
}

void PseudoTerminal::Close() {
    if (m_master >= 0) {
        ::close(m_slave);
        ::close(m_master);
        m_slave = m_master = -1;
    }
}

LineState PseudoTerminal::ReadLineState() const {
    return ReadLineStateOf(m_master);
}

void PseudoTerminal::Write(const std::uint8_t* bytes, std::size_t count) const {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t written = ::write(m_master, bytes + done, count - done);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
        } else if (written < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd entry{m_master, POLLOUT, 0};
            ::poll(&entry, 1, 10);
        } else {
            return;
        }
    }
}

}  // namespace quorvale::sim
