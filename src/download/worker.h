#pragma once

#include <chrono>
#include <cstdint>
#include <stop_token>
#include <string>

#include "download/progress.h"
#include "link/serial_port.h"

namespace quorvale {

constexpr unsigned MaxAttempts = 10;
constexpr std::uint32_t BlockSize = 256;

// Performs one whole download: hands the controller over to its bootloader, checks its
// hardware code, sets the version number, sends every block that is not all 0xFF and the
// finish frame, reporting through `progress`. Answers 0 on success and 1 otherwise.
//
// Once `stop` is requested the worker closes its port and returns 1 within a few
// milliseconds, wherever it is, and makes no further report.
std::uint32_t DownloadWorker(WorkerThread::Progress* progress, std::stop_token stop = {});

// What a download came to, for callers that act on more than the text: the command line's
// events and records. The dialog needs only the reports.
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

struct DownloadResult {
    FailureKind kind = FailureKind::None;
    // The system's error number behind the failure where it gave one (a port that would not
    // open, or that went away), else 0.
    int systemError = 0;
    // The failure text as reported, or the cancellation's text; empty when completed.
    std::string message;
    // Why, in words, where the download knows it itself (a rate the port cannot make, a port
    // that went away); else empty, and a caller may explain `systemError`.
    std::string reason;

    bool Completed() const { return kind == FailureKind::None; }
};

// The download DownloadWorker performs, answering what it came to. A stop before the
// completion is reported makes it Cancelled. `observer`, when given, sees every port the run
// opens.
DownloadResult PerformDownload(WorkerThread::Progress& progress, std::stop_token stop = {},
                               LineObserver* observer = nullptr);

// Waits `duration` unless the stop comes first, without waking in between; answers whether
// it was not stopped. The worker's pauses, and any caller's that must end on the same stop.
bool PauseUnlessStopped(std::stop_token stop, std::chrono::milliseconds duration);

}  // namespace quorvale
