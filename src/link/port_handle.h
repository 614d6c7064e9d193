// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stop_token>
#include <string>

#include "files/error.h"

namespace quorvale {

struct StopSignal;
// Each backend defines what its stop signal is and how it goes.
struct StopSignalDeleter {
    void operator()(StopSignal* signal) const;
};

// Parity and stop bits, numbered as the serial driver numbers them (NOPARITY ... SPACEPARITY,
// ONESTOPBIT ... TWOSTOPBITS on Windows); the dialog's list indices are these codes.
enum class Parity : std::uint8_t { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };
enum class StopBits : std::uint8_t { One = 0, OnePointFive = 1, Two = 2 };

struct LineSettings {
    std::uint32_t baudRate = 9600;
    std::uint8_t dataBits = 8;
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;
};

// Sees what a port does on the line, for a protocol trace: every change of line settings,
// every write the driver took and every burst read from it. Called on the thread that uses
// the port, so an observer shared by several ports does its own locking.
struct LineObserver {
    virtual void SettingsApplied(const LineSettings& settings) = 0;
    virtual void Sent(std::span<const std::uint8_t> bytes) = 0;
    virtual void Received(std::span<const std::uint8_t> bytes) = 0;

protected:
    ~LineObserver() = default;
};

// A rate the port can't put on the line: the driver refused it, kept another, or its clock's
// divisor makes another. `nearest` is the rate the port makes closest to it, where the driver
// says enough to know it.
struct RateRefusal {
    std::uint32_t asked = 0;
    std::optional<std::uint32_t> nearest;

    friend bool operator==(const RateRefusal&, const RateRefusal&) = default;
};

// The furthest a rate on the line may be from the one asked for, in parts per thousand. A
// UART samples each bit in its middle, so a character survives a few per cent between the
// two ends; this leaves the controller's own clock the rest.
constexpr std::uint32_t RateTolerancePerMille = 20;

// What the driver made of a rate it was given: whether it took the request, the rate it then
// reports (absent when it won't say) and its base clock, the rate at divisor 1 (0 where it has
// none, as a pseudo-terminal). Answers the refusal when the line does not run at `asked`.
std::optional<RateRefusal> CheckRate(std::uint32_t asked, bool taken,
                                     std::optional<std::uint32_t> reported,
                                     std::uint32_t baseClock);

// The port went away while it was open (adapter pulled, line hung up): the system's error
// number and its words, where it gave them; a hang-up comes with neither.
struct PortLoss {
    int error = 0;
    std::string words;
};

// Whether an error of a read, a write or a wait on an open port means the device itself is
// gone, rather than one call failing. The system's own codes: errno values on POSIX, Win32
// codes on Windows.
bool MeansPortGone(long error);

// Why a port could not be opened, for the line under the failure text: the system's own
// words, and for a permission problem the group the user needs to be in.
std::string ExplainOpenError(const std::string& port, const Error& error);

// Whether OpenPort's refusal, for a port that opened before, says the device is gone: its
// node removed or its driver detached.
bool OpenErrorMeansGone(const Error& openError);

// One open serial port, owned by whoever opened it and closed when it goes. A default
// constructed handle is the invalid handle; an invalid handle from OpenPort keeps why: the
// system's refusal, or the rate the port could not make.
class PortHandle {
public:
    PortHandle();
    ~PortHandle();
    PortHandle(PortHandle&& other) noexcept;
    PortHandle& operator=(PortHandle&& other) noexcept;
    PortHandle(const PortHandle&) = delete;
    PortHandle& operator=(const PortHandle&) = delete;

    bool IsValid() const { return m_fd != -1; }
    const std::optional<Error>& OpenError() const { return m_openError; }
    const std::optional<RateRefusal>& RateRefused() const { return m_rateRefused; }
    // Set once a read, a write or a wait found the device gone; every later wait on the port
    // then ends at once.
    const std::optional<PortLoss>& Lost() const { return m_lost; }

private:
    friend PortHandle OpenPort(const std::string&, const LineSettings&, std::stop_token,
                               LineObserver*);
    friend bool WritePort(PortHandle&, const std::uint8_t*, std::uint32_t);
    friend bool WriteToDriver(PortHandle&, const std::uint8_t*, std::uint32_t, std::uint32_t&);
    friend bool ReadPortByte(PortHandle&, std::uint8_t&);
    friend void DrainPort(PortHandle&);
    friend void FlushPort(PortHandle&);
    friend void ClosePort(PortHandle&);
    friend void WaitForInput(PortHandle&, std::chrono::milliseconds);
    friend bool StopRequested(const PortHandle&);
    friend bool WaitingIsOver(const PortHandle&);
    friend std::optional<Error> ProbePortOpen(const std::string&);
    friend int NativeDescriptor(const PortHandle&);

    static constexpr std::size_t ReceiveChunk = 512;

    // Opens the device exclusively, as every port is opened; answers why not, if it wasn't.
    std::optional<Error> Acquire(const std::string& name);
    // Puts the line settings on the acquired device; answers the rate it can't make, if so.
    std::optional<RateRefusal> ApplySettings(const LineSettings& settings);
    // What the backend does to a port it has configured before the first byte (the modem
    // lines, the latency, the stop's wake-up).
    void Prepare(const std::stop_token& stop);
    // Closes the handle, first throwing away output still queued when the download was
    // stopped or no flush has seen that output leave (the close after a failed exchange).
    void Release();
    bool DiscardsOutputOnClose() const;
    int StopFd() const;
    // Fills the receive buffer with what has arrived, without waiting; answers how much.
    std::size_t ReadAvailable();
    // Where the backend's open ends: keeps the stop and the observer, and shows the observer
    // the line settings.
    void Opened(const LineSettings& settings, std::stop_token stop, LineObserver* observer);
    // Closes a port whose rate is not on the line, before anything is sent.
    void RefuseRate(const RateRefusal& refusal);
    // Notes the loss, with the system's words for `error` (0: a hang-up, which has none).
    void MarkLost(long error);
    // Notes a failed call's error: the loss, when it means the device is gone.
    void NoteFailure(long error);

    // The file descriptor, or on Windows the handle; -1 for neither.
    std::intptr_t m_fd = -1;
    // The exclusive flag belongs to the terminal, not to this descriptor: only the opener
    // that set it may clear it.
    bool m_exclusive = false;
    // Written to since the last flush that saw the output queue empty.
    bool m_outputUnflushed = false;
    std::optional<Error> m_openError;
    std::optional<RateRefusal> m_rateRefused;
    std::optional<PortLoss> m_lost;
    // Low latency was turned on by this handle, and is turned off again at close.
    bool m_lowLatencySet = false;
    std::uint32_t m_baudRate = 0;
    std::stop_token m_stop;
    LineObserver* m_observer = nullptr;
    // Wakes the port's waits the moment a stop is requested.
    std::unique_ptr<StopSignal, StopSignalDeleter> m_stopSignal;
    // Bytes already taken from the driver but not yet handed out, so a whole reply costs one
    // system call instead of one per byte.
    std::uint8_t m_received[ReceiveChunk] = {};
    std::size_t m_receivedPos = 0;
    std::size_t m_receivedEnd = 0;
};

// Opens the named device read/write and exclusively, applies the line settings (binary mode,
// no flow control on output, DTR and RTS inactive) and answers the handle, or the invalid
// handle when the device can't be opened, is not a terminal, or can't run at the rate (then
// nothing has been sent). Once `stop` is requested, every
// wait on the handle ends within a few milliseconds. `observer`, when given, must outlive the
// handle.
PortHandle OpenPort(const std::string& name, const LineSettings& settings,
                    std::stop_token stop = {}, LineObserver* observer = nullptr);

// Hands all `count` bytes to the driver; true when it took them all.
bool WritePort(PortHandle& port, const std::uint8_t* bytes, std::uint32_t count);
// Takes one byte if one is waiting; never waits.
bool ReadPortByte(PortHandle& port, std::uint8_t& out);
// Discards every byte waiting now; later arrivals stay for later reads.
void DrainPort(PortHandle& port);
// Waits until every byte written so far has left the port.
void FlushPort(PortHandle& port);
void ClosePort(PortHandle& port);

// Waits at most `limit` for input, returning as soon as a byte is there or a stop is
// requested. The reply wait uses it in place of polling with sleeps: the same time limits,
// with no latency and no wake-ups while the line is quiet.
void WaitForInput(PortHandle& port, std::chrono::milliseconds limit);
bool StopRequested(const PortHandle& port);
// A stop was requested or the port is gone: either way, waiting on it is over.
bool WaitingIsOver(const PortHandle& port);

// The port's file descriptor, for a caller that does its own waiting and reading (a
// benchmark's reference client); -1 for the invalid handle.
int NativeDescriptor(const PortHandle& port);

// Whether the named device could be opened as a port right now, without changing its line
// settings: nothing, or the system's refusal (not a terminal, held by another program). For
// waiting out a port that has only just appeared.
std::optional<Error> ProbePortOpen(const std::string& name);

}  // namespace quorvale
