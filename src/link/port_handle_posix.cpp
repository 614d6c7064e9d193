// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

#include "link/port_handle.h"
#include "link/termios_mapping.h"

namespace quorvale {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The longest a wait for room to write, or for the output to drain, runs before it looks at
// the line again.
constexpr int kShortWaitMs = 2;

// Answers whether the driver took the rate. Other settings it refuses are not reported: a
// controller that can't understand the line stays silent, and that shows up as a missing
// reply. The rate is another matter, since the driver may keep another one without a word.
bool ApplyLineSettings(int fd, const LineSettings& settings) {
    termios current{};
    if (::tcgetattr(fd, &current) != 0) {
        // Nothing to start from: a plain raw line is the closest thing to "the driver's values".
        std::memset(&current, 0, sizeof current);
        ::cfmakeraw(&current);
    }
    const termios wanted = MakeLineTermios(current, settings);
    bool taken = ::tcsetattr(fd, TCSANOW, &wanted) == 0;
    // Rate 0 would hang the line up; the driver's rate stays instead.
    if (settings.baudRate != 0 && !StandardSpeed(settings.baudRate)) {
        taken = SetCustomBaudRate(fd, settings.baudRate) && taken;
    }
    return taken;
}

void SetModemLinesInactive(int fd) {
    int lines = TIOCM_DTR | TIOCM_RTS;
    // A pseudo-terminal has no modem lines and answers ENOTTY or EINVAL; that is fine.
    ::ioctl(fd, TIOCMBIC, &lines);
}

int MillisecondsAtLeastOne(milliseconds limit) {
    return static_cast<int>(std::clamp<milliseconds::rep>(limit.count(), 1, INT32_MAX));
}

}  // namespace

// An eventfd that becomes readable when the port's stop is requested, so that a wait on the
// port can include it and end at once.
struct StopSignal {
    explicit StopSignal(const std::stop_token& stop)
        : fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        callback.emplace(stop, Raise{fd});
    }
    ~StopSignal() {
        // The callback goes first: its destruction waits for a run of it on another thread to
        // end, and only then may the descriptor it writes to be closed.
        callback.reset();
        ::close(fd);
    }
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    struct Raise {
        int fd;
        void operator()() const noexcept {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t ignored = ::write(fd, &one, sizeof one);
        }
    };
    const int fd;
    std::optional<std::stop_callback<Raise>> callback;
};

namespace {

// A hung-up line (adapter pulled, far end of a pseudo-terminal closed) or a failed device
// polls as ready for ever, readable too, while every read finds nothing.
bool LineIsDead(short revents) {
    return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// Waits for `events` on `fd` or for the stop signal, at most `timeoutMs`; answers whether
// the line turned out dead, which ends the wait at once.
bool WaitFor(int fd, int stopFd, short events, int timeoutMs) {
    pollfd entries[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
    const nfds_t count = stopFd >= 0 ? 2 : 1;
    return ::poll(entries, count, timeoutMs) > 0 && LineIsDead(entries[0].revents);
}

}  // namespace

void StopSignalDeleter::operator()(StopSignal* signal) const {
    delete signal;
}

bool MeansPortGone(long error) {
    // EIO: a hung-up line or a pseudo-terminal whose other side closed; ENODEV and ENXIO: a
    // driver that let go of its device.
    return error == EIO || error == ENODEV || error == ENXIO;
}

void PortHandle::NoteFailure(long error) {
    if (MeansPortGone(error)) {
        MarkLost(error);
    }
}

int PortHandle::StopFd() const {
    return m_stopSignal ? m_stopSignal->fd : -1;
}

PortHandle::PortHandle() = default;

PortHandle::~PortHandle() {
    Release();
}

void PortHandle::Release() {
    if (m_fd >= 0) {
        if (DiscardsOutputOnClose()) {
            ::tcflush(m_fd, TCOFLUSH);
        }
        if (m_lowLatencySet) {
            DisableLowLatency(static_cast<int>(m_fd));
            m_lowLatencySet = false;
        }
        if (m_exclusive) {
            // Without this a pseudo-terminal that another process also holds could not be
            // reopened by an ordinary user.
            ::ioctl(m_fd, TIOCNXCL);
        }
        ::close(m_fd);
        m_fd = -1;
        m_exclusive = false;
        m_outputUnflushed = false;
    }
    m_receivedPos = m_receivedEnd = 0;
    m_stopSignal.reset();
}

std::optional<Error> PortHandle::Acquire(const std::string& name) {
    m_fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        return Error::FromSystem(errno);
    }
    if (!::isatty(m_fd)) {
        Release();
        return Error::FromSystem(ENOTTY);
    }
    // Exclusive like a Windows COM port: flock keeps out every other opener, root included;
    // TIOCEXCL also keeps out programs that don't use flock.
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        Release();
        return Error::FromSystem(EBUSY);
    }
    m_exclusive = ::ioctl(m_fd, TIOCEXCL) == 0;
    return std::nullopt;
}

std::optional<RateRefusal> PortHandle::ApplySettings(const LineSettings& settings) {
    const int fd = static_cast<int>(m_fd);
    const bool taken = ApplyLineSettings(fd, settings);
    return CheckRate(settings.baudRate, taken, ReportedBaudRate(fd), BaseClock(fd));
}

void PortHandle::Prepare(const std::stop_token& stop) {
    SetModemLinesInactive(m_fd);
    m_lowLatencySet = EnableLowLatency(m_fd);
    if (stop.stop_possible()) {
        m_stopSignal.reset(new StopSignal(stop));
    }
}

bool WriteToDriver(PortHandle& port, const std::uint8_t* bytes, std::uint32_t count,
                   std::uint32_t& done) {
    port.m_outputUnflushed = true;
    while (done < count) {
        if (StopRequested(port)) {
            return false;
        }
        const ssize_t written = ::write(port.m_fd, bytes + done, count - done);
        if (written > 0) {
            done += static_cast<std::uint32_t>(written);
        } else if (written < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (WaitFor(port.m_fd, port.StopFd(), POLLOUT, kShortWaitMs)) {
                port.MarkLost(0);
                return false;
            }
        } else {
            if (written < 0) {
                port.NoteFailure(errno);
            }
            return false;
        }
    }
    return true;
}

std::size_t PortHandle::ReadAvailable() {
    // With VMIN and VTIME at 0 an empty line reads 0 bytes, and so does a hung-up one: only
    // the wait can tell them apart.
    const ssize_t got = ::read(static_cast<int>(m_fd), m_received, ReceiveChunk);
    if (got < 0) {
        NoteFailure(errno);
    }
    return got > 0 ? static_cast<std::size_t>(got) : 0;
}

void FlushPort(PortHandle& port) {
    // tcdrain could block for seconds at a low rate without seeing a stop request, so the
    // output queue is watched in short waits instead. The bound covers a line that never
    // drains (a stuck adapter): the queued bytes' time on the wire and a second to spare.
    const auto queuedOutput = [&port] {
        int queued = 0;
        if (::ioctl(port.m_fd, TIOCOUTQ, &queued) == 0) {
            return queued;
        }
        port.NoteFailure(errno);
        return -1;
    };
    int queued = queuedOutput();
    if (queued == 0) {
        port.m_outputUnflushed = false;
    }
    if (queued <= 0) {
        return;
    }
    const auto bitsPerSecond = std::max<std::uint32_t>(port.m_baudRate, 50);
    const auto deadline = Clock::now() + milliseconds(1000 + 12000LL * queued / bitsPerSecond);
    while (!StopRequested(port) && Clock::now() < deadline) {
        queued = queuedOutput();
        if (queued == 0) {
            port.m_outputUnflushed = false;
        }
        if (queued <= 0) {
            return;
        }
        pollfd stopOnly{port.StopFd(), POLLIN, 0};
        ::poll(&stopOnly, 1, 1);
    }
}

void WaitForInput(PortHandle& port, milliseconds limit) {
    if (port.m_receivedPos != port.m_receivedEnd || WaitingIsOver(port)) {
        return;
    }
    if (WaitFor(port.m_fd, port.StopFd(), POLLIN, MillisecondsAtLeastOne(limit))) {
        port.MarkLost(0);
    }
}

int NativeDescriptor(const PortHandle& port) {
    return port.m_fd;
}

}  // namespace quorvale
