// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>

#include "download/progress.h"
#include "image/firmware_image.h"
#include "link/port_handle.h"

// One download, the engine's own entry: what to download where, one stream of events while
// it runs, and what it came to.
namespace quorvale {

constexpr unsigned MaxAttempts = 10;
constexpr std::uint32_t BlockSize = 256;

// How a download ended.
enum class FailureKind : std::uint8_t {
    None,  // completed
    OpenApplicationPort,
    OpenBootloaderPort,
    NoHardwareCode,
    WrongHardwareCode,
    VersionRefused,
    BlockRefused,
    FinishFailed,
    // The port itself went away (adapter pulled, line hung up), whatever the step: a bad
    // contact rather than a controller that refused.
    PortLost,
    Cancelled,
};

struct DownloadOutcome {
    FailureKind kind = FailureKind::None;
    // The system's own code behind the failure where it gave one (a port that would not open,
    // or that went away): an errno value on Linux, a Win32 code on Windows; else 0.
    int systemError = 0;
    // The failure text, or the cancellation's; empty when completed.
    std::string message;
    // Why, in words: a rate the port cannot make, a port that went away, or the system's
    // reason a port would not open. Empty where there is nothing more to say.
    std::string reason;

    bool Completed() const { return kind == FailureKind::None; }
    // Ended by a failure, which is said; a cancellation is neither.
    bool Failed() const { return kind != FailureKind::None && kind != FailureKind::Cancelled; }
};

struct DownloadRequest {
    std::string port;
    // The controller's running application listens at these.
    LineSettings application;
    const FirmwareImage& image;
};

// What a running download says, in order: the phase Initiating, then phases and progress,
// then exactly one End, which carries the outcome. Every event carries the time since
// Initiating, from one clock.
struct DownloadEvent {
    enum class Kind { Phase, Progress, End };
    Kind kind;
    std::uint32_t elapsedMs = 0;
    DownloadPhase phase = Initiating;          // Phase
    std::uint32_t done = 0;                    // Progress: image bytes dealt with, of
    std::uint32_t total = 0;                   // the image's length, never 0
    const DownloadOutcome* outcome = nullptr;  // End; valid during the call only
};

using DownloadEvents = std::function<void(const DownloadEvent&)>;

// Performs one download on the calling thread, telling `onEvent` (on the same thread) as it
// goes. Once `stop` is requested it closes its port and ends within a few milliseconds as
// Cancelled, wherever it is; only the End event follows. `observer`, when given, sees every
// port the run opens.
DownloadOutcome Download(const DownloadRequest& request, std::stop_token stop,
                         const DownloadEvents& onEvent, LineObserver* observer = nullptr);

}  // namespace quorvale
