// SPDX-License-Identifier: Apache-2.0
// The serial port on Win32: CreateFileA, the DCB and the time-outs, synchronous reads and
// writes. With ReadIntervalTimeout = MAXDWORD a read returns at once with what has arrived.
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <thread>
#include <utility>

#include "files/system_error.h"
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

// Win32 waits are short sleeps that look at the stop request in between; nothing to signal.
// A write or a flush in progress is not interrupted: the write time-outs bound it instead.
struct StopSignal {};

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

// Twice the time of the longest character (start, 8 data, parity and 2 stop bits), rounded up.
DWORD WriteMillisecondsPerByte(std::uint32_t baudRate) {
    const std::uint32_t rate = std::max<std::uint32_t>(baudRate, 50);
    return static_cast<DWORD>((2 * 12000 + rate - 1) / rate);
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
    // with it, for ever.
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, WriteMillisecondsPerByte(settings.baudRate),
                          kWriteGraceMs};
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

// Whether the driver still answers for its device; after a removal it no longer does.
bool DeviceAnswers(HANDLE port) {
    DWORD errors = 0;
    COMSTAT status{};
    return ClearCommError(port, &errors, &status) != FALSE;
}

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
    if (m_fd != -1) {
        if (DiscardsOutputOnClose()) {
            PurgeComm(AsHandle(m_fd), PURGE_TXABORT | PURGE_TXCLEAR);
        }
        CloseHandle(AsHandle(m_fd));
        m_fd = -1;
        m_outputUnflushed = false;
    }
    m_receivedPos = m_receivedEnd = 0;
}

std::optional<Error> PortHandle::Acquire(const std::string& name) {
    const HANDLE port = CreateFileA(DevicePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
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

void PortHandle::Prepare(const std::stop_token&) {
    // Its waits are short sleeps that look at the stop in between: nothing to set up.
}

bool WriteToDriver(PortHandle& port, const std::uint8_t* bytes, std::uint32_t count,
                   std::uint32_t& taken) {
    if (StopRequested(port)) {
        return false;
    }
    port.m_outputUnflushed = true;
    DWORD written = 0;
    // A write that timed out reports success with fewer bytes taken.
    const bool ok = WriteFile(AsHandle(port.m_fd), bytes, count, &written, nullptr) != FALSE;
    if (!ok) {
        port.NoteFailure(static_cast<long>(GetLastError()));
    }
    taken = written;
    return ok && written == count;
}

std::size_t PortHandle::ReadAvailable() {
    DWORD got = 0;
    // With ReadIntervalTimeout = MAXDWORD the read answers at once; its own result counts
    // only for telling a device that is gone.
    if (!ReadFile(AsHandle(m_fd), m_received, ReceiveChunk, &got, nullptr)) {
        NoteFailure(static_cast<long>(GetLastError()));
    }
    return got;
}

void FlushPort(PortHandle& port) {
    if (FlushFileBuffers(AsHandle(port.m_fd))) {
        port.m_outputUnflushed = false;
    } else {
        port.NoteFailure(static_cast<long>(GetLastError()));
    }
}

void WaitForInput(PortHandle& port, milliseconds limit) {
    // Reads never wait here, so the wait is a short sleep that keeps the stop request in view.
    if (port.m_receivedPos == port.m_receivedEnd && !WaitingIsOver(port)) {
        std::this_thread::sleep_for(std::min(limit, milliseconds(1)));
    }
}

int NativeDescriptor(const PortHandle&) {
    return -1;
}

}  // namespace quorvale
