// SPDX-License-Identifier: Apache-2.0
// The serial port on Win32: CreateFileA, the DCB and the time-outs, and overlapped reads and
// writes, each waited for together with the port's stop so that a stop never waits for the
// line.
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>

#include "files/system_error.h"
#include "link/overlapped_wait.h"
#include "link/port_handle.h"

namespace quorvale {

// The codes go to the driver unchanged.
static_assert(static_cast<int>(Parity::None) == NOPARITY);
static_assert(static_cast<int>(Parity::Odd) == ODDPARITY);
static_assert(static_cast<int>(Parity::Even) == EVENPARITY);
static_assert(static_cast<int>(Parity::Mark) == MARKPARITY);
static_assert(static_cast<int>(Parity::Space) == SPACEPARITY);
static_assert(static_cast<int>(StopBits::One) == ONESTOPBIT);
static_assert(static_cast<int>(StopBits::OnePointFive) == ONE5STOPBITS);
static_assert(static_cast<int>(StopBits::Two) == TWOSTOPBITS);

// The events every wait on the port ends on: the port's stop, raised from its stop_token, and
// the completion of the call under way (one at a time, so one event serves them all).
struct StopSignal {
    explicit StopSignal(const std::stop_token& stop)
        : stopped(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          done(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        callback.emplace(stop, Raise{stopped});
    }
    ~StopSignal() {
        // The callback goes first: its destruction waits for a run of it on another thread to
        // end, and only then may the event it sets be closed.
        callback.reset();
        CloseHandle(stopped);
        CloseHandle(done);
    }
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    struct Raise {
        HANDLE event;
        void operator()() const noexcept { SetEvent(event); }
    };
    const HANDLE stopped;
    const HANDLE done;
    std::optional<std::stop_callback<Raise>> callback;
};

namespace {

using std::chrono::milliseconds;

HANDLE AsHandle(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

// COM10 and up can only be opened through the device namespace; the port keeps its name.
std::string DevicePath(const std::string& name) {
    const bool comPort =
        name.size() > 3 && _strnicmp(name.c_str(), "COM", 3) == 0 &&
        std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
    return comPort && name.size() > 4 ? "\\\\.\\" + name : name;
}

constexpr DWORD kWriteGraceMs = 1000;

// The longest a read of bytes the driver has said are there may take: they are there, so only
// a driver that counted more than it hands over would hold the read that long.
constexpr milliseconds kQueuedReadLimit{50};

// Twice the time of the longest character (start, 8 data, parity and 2 stop bits), rounded up.
DWORD WriteMillisecondsPerByte(std::uint32_t baudRate) {
    const std::uint32_t rate = std::max<std::uint32_t>(baudRate, 50);
    return static_cast<DWORD>((2 * 12000 + rate - 1) / rate);
}

// What the write time-outs allow a write of `count` bytes; the wait for it keeps to the same
// bound, should a driver not.
milliseconds WriteBound(std::uint32_t baudRate, std::uint32_t count) {
    return milliseconds(std::uint64_t{WriteMillisecondsPerByte(baudRate)} * count + kWriteGraceMs);
}

// Changes only what the line settings name, leaving the driver's other values as read, and
// answers whether the driver took them. Other failures are not reported: a controller that
// can't understand the line stays silent, and that shows up as a missing reply.
bool ApplyLineSettings(HANDLE port, const LineSettings& settings) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    const DCB asRead = dcb;
    dcb.BaudRate = settings.baudRate;
    dcb.ByteSize = settings.dataBits;
    dcb.Parity = static_cast<BYTE>(settings.parity);
    dcb.StopBits = static_cast<BYTE>(settings.stopBits);
    dcb.fOutxCtsFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = FALSE;
    bool taken = SetCommState(port, &dcb) != FALSE;
    if (!taken) {
        // A driver refuses the whole DCB for any one value it can't take (1.5 stop bits with
        // 8 data bits, mark parity on some adapters); only the rate decides the open.
        DCB rateOnly = asRead;
        rateOnly.BaudRate = settings.baudRate;
        taken = SetCommState(port, &rateOnly) != FALSE;
    }
    // A write may take its bytes' time on the wire twice over and a second more: a device
    // that no longer takes data then fails the write instead of holding it, and the worker
    // with it, for ever. Reads have no time-outs: each asks for bytes the driver has said are
    // there, or for the one byte a wait for input ends on, and its own wait bounds it.
    COMMTIMEOUTS timeouts{0, 0, 0, WriteMillisecondsPerByte(settings.baudRate), kWriteGraceMs};
    SetCommTimeouts(port, &timeouts);
    return taken;
}

// The rate the driver holds now; a driver may keep another than the one it was given.
std::optional<std::uint32_t> ReportedBaudRate(HANDLE port) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(dcb.BaudRate);
}

// The driver's queues; nothing, with the system's code in `error`, when it won't say. Line
// errors it had noted are cleared on the way, as any read of the status does.
std::optional<COMSTAT> CommStatus(HANDLE port, long& error) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(port, &errors, &status)) {
        error = static_cast<long>(GetLastError());
        return std::nullopt;
    }
    return status;
}

// Whether the driver still answers for its device; after a removal it no longer does.
bool DeviceAnswers(HANDLE port) {
    long ignored = 0;
    return CommStatus(port, ignored).has_value();
}

DWORD WaitMilliseconds(std::optional<milliseconds> limit) {
    if (!limit) {
        return INFINITE;
    }
    return static_cast<DWORD>(std::clamp<milliseconds::rep>(limit->count(), 0, INFINITE - 1));
}

// One overlapped ReadFile or WriteFile on the port, `issue` making the call. Its OVERLAPPED
// lives here, and RunOverlapped does not return before the system is done with it.
template <typename Issue>
class PortOperation final : public OverlappedOperation {
public:
    PortOperation(HANDLE port, const StopSignal& events, Issue issue)
        : m_port(port), m_events(events), m_issue(issue) {
        m_overlapped.hEvent = events.done;
    }

    Start Begin(long& error) override {
        if (m_issue(m_port, &m_overlapped)) {
            return Start::Completed;
        }
        const DWORD code = GetLastError();
        if (code == ERROR_IO_PENDING) {
            return Start::Pending;
        }
        error = static_cast<long>(code);
        return Start::Failed;
    }

    Wake Wait(std::optional<milliseconds> limit) override {
        // Listed first, a completion wins over a stop that came at the same moment.
        const HANDLE events[] = {m_events.done, m_events.stopped};
        switch (WaitForMultipleObjects(2, events, FALSE, WaitMilliseconds(limit))) {
            case WAIT_OBJECT_0:
                return Wake::Completed;
            case WAIT_OBJECT_0 + 1:
                return Wake::Stop;
            default:
                return Wake::Expired;
        }
    }

    void Cancel() override { CancelIoEx(m_port, &m_overlapped); }

    IoCompletion Finish() override {
        DWORD bytes = 0;
        if (GetOverlappedResult(m_port, &m_overlapped, &bytes, TRUE)) {
            return {bytes, 0, false};
        }
        const DWORD code = GetLastError();
        return {bytes, static_cast<long>(code), code == ERROR_OPERATION_ABORTED};
    }

private:
    const HANDLE m_port;
    const StopSignal& m_events;
    const Issue m_issue;
    OVERLAPPED m_overlapped{};
};

IoOutcome ReadFromDriver(HANDLE port, const StopSignal& events, std::uint8_t* into,
                         std::size_t count, std::optional<milliseconds> limit) {
    const auto issue = [into, count](HANDLE handle, OVERLAPPED* overlapped) {
        return ReadFile(handle, into, static_cast<DWORD>(count), nullptr, overlapped);
    };
    PortOperation<decltype(issue)> read{port, events, issue};
    return RunOverlapped(read, limit);
}

IoOutcome WriteToPort(HANDLE port, const StopSignal& events, const std::uint8_t* bytes,
                      std::uint32_t count, milliseconds limit) {
    const auto issue = [bytes, count](HANDLE handle, OVERLAPPED* overlapped) {
        return WriteFile(handle, bytes, count, nullptr, overlapped);
    };
    PortOperation<decltype(issue)> write{port, events, issue};
    return RunOverlapped(write, limit);
}

// Takes what has arrived, at most `room` bytes, without waiting for more. It asks the driver
// how much there is first: a read for more would wait for the rest, and the time-outs that
// make a read return at once with what is there are not kept on every driver's overlapped
// reads (wine's keep such a read waiting).
IoOutcome ReadQueued(HANDLE port, const StopSignal& events, std::uint8_t* into, std::size_t room) {
    long error = 0;
    const std::optional<COMSTAT> status = CommStatus(port, error);
    if (!status || status->cbInQue == 0) {
        return {IoEnd::Completed, {0, error, false}};
    }
    const std::size_t count = std::min<std::size_t>(status->cbInQue, room);
    return ReadFromDriver(port, events, into, count, kQueuedReadLimit);
}

// The output queue as the driver reports it, the pauses between looks cut short by the stop.
class DriverOutputQueue final : public OutputQueue {
public:
    DriverOutputQueue(HANDLE port, const StopSignal& events) : m_port(port), m_events(events) {}

    std::optional<std::uint32_t> Queued() override {
        const std::optional<COMSTAT> status = CommStatus(m_port, m_error);
        if (!status) {
            return std::nullopt;
        }
        return static_cast<std::uint32_t>(status->cbOutQue);
    }
    bool Pause(milliseconds pause) override {
        return WaitForSingleObject(m_events.stopped, WaitMilliseconds(pause)) == WAIT_OBJECT_0;
    }
    Clock::time_point Now() const override { return Clock::now(); }

    // The system's code for the status the driver would not give.
    long Error() const { return m_error; }

private:
    const HANDLE m_port;
    const StopSignal& m_events;
    long m_error = 0;
};

}  // namespace

bool MeansPortGone(long error) {
    return error == ERROR_DEVICE_NOT_CONNECTED || error == ERROR_BAD_COMMAND;
}

void PortHandle::NoteFailure(long error) {
    // After a removal drivers fail calls in many ways (aborted, access denied, a general
    // failure); any of them means the device is gone once the driver no longer answers for
    // it. A purge aborts calls too, on a port that still answers.
    if (MeansPortGone(error) || !DeviceAnswers(AsHandle(m_fd))) {
        MarkLost(error);
    }
}

PortHandle::PortHandle() = default;

PortHandle::~PortHandle() {
    Release();
}

void StopSignalDeleter::operator()(StopSignal* signal) const {
    delete signal;
}

int PortHandle::StopFd() const {
    return -1;
}

void PortHandle::Release() {
    // No call is in flight here: each one is over before the function that made it returns.
    if (m_fd != -1) {
        if (DiscardsOutputOnClose()) {
            PurgeComm(AsHandle(m_fd), PURGE_TXABORT | PURGE_TXCLEAR);
        }
        CloseHandle(AsHandle(m_fd));
        m_fd = -1;
        m_outputUnflushed = false;
    }
    m_receivedPos = m_receivedEnd = 0;
    m_stopSignal.reset();
}

std::optional<Error> PortHandle::Acquire(const std::string& name) {
    const HANDLE port = CreateFileA(DevicePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        return Error::FromSystem(static_cast<long>(GetLastError()));
    }
    m_fd = reinterpret_cast<std::intptr_t>(port);
    return std::nullopt;
}

std::optional<RateRefusal> PortHandle::ApplySettings(const LineSettings& settings) {
    const HANDLE handle = AsHandle(m_fd);
    const bool taken = ApplyLineSettings(handle, settings);
    // Windows drivers report no base clock; what they hold is what they run at.
    return CheckRate(settings.baudRate, taken, ReportedBaudRate(handle), 0);
}

void PortHandle::Prepare(const std::stop_token& stop) {
    // Every wait needs the completion event, whether or not a stop can come.
    m_stopSignal.reset(new StopSignal(stop));
}

bool WriteToDriver(PortHandle& port, const std::uint8_t* bytes, std::uint32_t count,
                   std::uint32_t& taken) {
    if (StopRequested(port) || !port.m_stopSignal) {
        return false;
    }
    port.m_outputUnflushed = true;
    // The driver completes a write only once its bytes are on their way, a block's time at a
    // low rate; a stop cancels it. A write that timed out completes with fewer bytes taken.
    const IoOutcome outcome = WriteToPort(AsHandle(port.m_fd), *port.m_stopSignal, bytes, count,
                                          WriteBound(port.m_baudRate, count));
    if (outcome.completion.error != 0) {
        port.NoteFailure(outcome.completion.error);
    }
    taken = outcome.completion.bytes;
    return outcome.completion.error == 0 && taken == count;
}

std::size_t PortHandle::ReadAvailable() {
    if (!m_stopSignal) {
        return 0;
    }
    const IoOutcome outcome = ReadQueued(AsHandle(m_fd), *m_stopSignal, m_received, ReceiveChunk);
    if (outcome.completion.error != 0) {
        NoteFailure(outcome.completion.error);
    }
    return outcome.completion.bytes;
}

void FlushPort(PortHandle& port) {
    // FlushFileBuffers would hold the worker until the driver's queue is empty, and nothing
    // but CancelSynchronousIo from a thread of its own could cut it short; the queue is
    // watched instead, as the Linux backend watches its own. An EV_TXEMPTY wait would need
    // the same look first (it never comes for a queue that emptied before it began), and USB
    // drivers raise it when their own buffer empties, not the line.
    if (!port.m_stopSignal) {
        return;
    }
    DriverOutputQueue queue{AsHandle(port.m_fd), *port.m_stopSignal};
    switch (WaitUntilSent(queue, port.m_baudRate)) {
        case FlushEnd::Sent:
            port.m_outputUnflushed = false;
            break;
        case FlushEnd::Unknown:
            port.NoteFailure(queue.Error());
            break;
        case FlushEnd::Stopped:
        case FlushEnd::TimedOut:
            break;
    }
}

void WaitForInput(PortHandle& port, milliseconds limit) {
    if (port.m_receivedPos != port.m_receivedEnd || WaitingIsOver(port) || !port.m_stopSignal) {
        return;
    }
    // The wait is a read of one byte: with no read time-outs it completes when a byte has
    // come, on every driver, and the byte is ours at once. Neither usual way holds
    // everywhere. A WaitCommEvent for EV_RXCHAR depends on the driver's event history (a
    // byte that came before the wait began may or may not count), and wine ends it within
    // milliseconds as aborted, byte or no byte. The time-outs that make a read return on its
    // first byte (ReadIntervalTimeout and ReadTotalTimeoutMultiplier MAXDWORD, the limit as
    // ReadTotalTimeoutConstant) are documented, but wine holds that read until its whole
    // buffer is full.
    const HANDLE handle = AsHandle(port.m_fd);
    const StopSignal& events = *port.m_stopSignal;
    const IoOutcome first = ReadFromDriver(handle, events, port.m_received, 1, limit);
    if (first.completion.error != 0) {
        port.NoteFailure(first.completion.error);
    }
    if (first.completion.bytes == 0) {
        return;
    }
    // What came with it is the same burst.
    const IoOutcome rest =
        ReadQueued(handle, events, port.m_received + 1, PortHandle::ReceiveChunk - 1);
    if (rest.completion.error != 0) {
        port.NoteFailure(rest.completion.error);
    }
    port.m_receivedPos = 0;
    port.m_receivedEnd = 1 + rest.completion.bytes;
    if (port.m_observer) {
        port.m_observer->Received({port.m_received, port.m_receivedEnd});
    }
}

int NativeDescriptor(const PortHandle&) {
    return -1;
}

}  // namespace quorvale
