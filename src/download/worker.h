// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <cstdint>
#include <stop_token>

#include "download/progress.h"
#include "download/session.h"
#include "link/port_handle.h"

// The download as a thread routine reporting through WorkerThread::Progress, for windows that
// implement it: an adapter over Download.
namespace quorvale {

// Performs one whole download: hands the controller over to its bootloader, checks its
// hardware code, sets the version number, sends every block that is not all 0xFF and the
// finish frame, reporting through `progress`. Answers 0 on success and 1 otherwise.
//
// Once `stop` is requested the worker closes its port and returns 1 within a few
// milliseconds, wherever it is, and makes no further report.
std::uint32_t DownloadWorker(WorkerThread::Progress* progress, std::stop_token stop = {});

// The download DownloadWorker performs, answering what it came to. The application's
// settings are read through `progress` on every attempt. A stop before the completion is
// reported makes it Cancelled.
DownloadOutcome PerformDownload(WorkerThread::Progress& progress, std::stop_token stop = {},
                                LineObserver* observer = nullptr);

// Hands one event to the Progress operation that reports it: a failure's text to
// ReportError; a cancellation to none.
void ReportTo(WorkerThread::Progress& progress, const DownloadEvent& event);

// Waits `duration` unless the stop comes first, without waking in between; answers whether
// it was not stopped. The worker's pauses, and any caller's that must end on the same stop.
bool PauseUnlessStopped(std::stop_token stop, std::chrono::milliseconds duration);

}  // namespace quorvale
