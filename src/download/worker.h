#pragma once

#include <cstdint>
#include <stop_token>

#include "download/progress.h"

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

}  // namespace quorvale
