// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

// How the Windows serial backend waits: an overlapped call on the port waited for together
// with the port's stop, and the output queue watched until it has gone. Free of Win32, so
// that a fake can drive every path on any system.
namespace quorvale {

// How an overlapped call ended: what it moved, and the system's code when it failed.
struct IoCompletion {
    std::uint32_t bytes = 0;
    long error = 0;
    // It ended because it was cancelled; `bytes` still counts what it moved before that.
    bool cancelled = false;

    friend bool operator==(const IoCompletion&, const IoCompletion&) = default;
};

// One overlapped read or write on a port, as the system offers it.
class OverlappedOperation {
public:
    enum class Start { Pending, Completed, Failed };
    // Expired also stands for a wait the system could not make.
    enum class Wake { Completed, Stop, Expired };

    // Issues the call. When it fails, `error` holds the system's code and nothing is left in
    // flight.
    virtual Start Begin(long& error) = 0;
    // Waits for the call to complete or for the port's stop, at most `limit` (without one,
    // for as long as it takes).
    virtual Wake Wait(std::optional<std::chrono::milliseconds> limit) = 0;
    // Asks the system to cancel the call, which may have completed meanwhile.
    virtual void Cancel() = 0;
    // The call's result, once the system is done with it: waits for that.
    virtual IoCompletion Finish() = 0;

protected:
    ~OverlappedOperation() = default;
};

enum class IoEnd { Completed, Stopped, TimedOut };

struct IoOutcome {
    IoEnd end = IoEnd::Completed;
    // What the call moved, kept when it was cut short; `error` is a failure of the call,
    // never the cancellation a stop or a time-out made.
    IoCompletion completion;

    friend bool operator==(const IoOutcome&, const IoOutcome&) = default;
};

// Runs `operation` until it completes, a stop comes or `limit` passes. However it ends, the
// system is done with the call's buffer and its OVERLAPPED on return, so both may go.
IoOutcome RunOverlapped(OverlappedOperation& operation,
                        std::optional<std::chrono::milliseconds> limit);

// A port's output queue, as a flush watches it.
class OutputQueue {
public:
    using Clock = std::chrono::steady_clock;

    // Bytes written that have not left yet; nothing when the driver can't say.
    virtual std::optional<std::uint32_t> Queued() = 0;
    // Waits `pause`, or less when a stop comes; answers whether one did.
    virtual bool Pause(std::chrono::milliseconds pause) = 0;
    virtual Clock::time_point Now() const = 0;

protected:
    ~OutputQueue() = default;
};

enum class FlushEnd { Sent, Stopped, TimedOut, Unknown };

// Waits until the queue is empty, looking at it between short pauses that a stop cuts short.
// A line that never drains (a stuck adapter) is given the queued bytes' time on the wire at
// `baudRate` and a second more.
FlushEnd WaitUntilSent(OutputQueue& queue, std::uint32_t baudRate);

}  // namespace quorvale
