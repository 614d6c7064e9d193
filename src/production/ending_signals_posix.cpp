// SPDX-License-Identifier: Apache-2.0
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <initializer_list>

#include "production/ending_signals.h"

namespace quorvale {
namespace {

sigset_t Ending() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

// Empties a descriptor that counts (eventfd) or queues (signalfd) what arrived.
void Consume(int fd) {
    char buffer[sizeof(signalfd_siginfo)];
    while (::read(fd, buffer, sizeof buffer) < 0 && errno == EINTR) {
    }
}

}  // namespace

EndingSignals::EndingSignals() {
    const sigset_t set = Ending();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    m_signals = ::signalfd(-1, &set, SFD_CLOEXEC);
    m_wake = ::eventfd(0, EFD_CLOEXEC);
    if (m_signals < 0) {
        // Never seen otherwise: let them end the program as before.
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    }
}

EndingSignals::~EndingSignals() {
    for (const int fd : {m_signals, m_wake}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool EndingSignals::Wait() {
    pollfd fds[] = {{m_signals, POLLIN, 0}, {m_wake, POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0 && errno == EINTR) {
    }
    if (fds[0].revents & POLLIN) {
        Consume(m_signals);
        return true;
    }
    Consume(m_wake);
    return false;
}

void EndingSignals::Wake() {
    const std::uint64_t one = 1;
    while (::write(m_wake, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

int EndingSignals::Descriptor() const {
    return m_signals;
}

}  // namespace quorvale
