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
    // Without a wake descriptor (the process is out of them) a wake is looked for a few times
    // a second instead.
    const int timeout = m_wake < 0 ? 100 : -1;
    for (;;) {
        pollfd fds[] = {{m_signals, POLLIN, 0}, {m_wake, POLLIN, 0}};
        const int ready = ::poll(fds, 2, timeout);
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            Consume(m_signals);
            return true;
        }
        if (ready > 0 && (fds[1].revents & POLLIN)) {
            Consume(m_wake);
            m_woken = false;
            return false;
        }
        if (m_woken.exchange(false)) {
            return false;
        }
    }
}

void EndingSignals::Wake() {
    m_woken = true;
    const std::uint64_t one = 1;
    while (m_wake >= 0 && ::write(m_wake, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

int EndingSignals::Descriptor() const {
    return m_signals;
}

}  // namespace quorvale
