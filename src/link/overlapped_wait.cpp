// SPDX-License-Identifier: Apache-2.0
#include "link/overlapped_wait.h"

#include <algorithm>

namespace quorvale {
namespace {

using std::chrono::milliseconds;

// How long a flush waits before it looks at the output queue again. A stop ends the pause
// at once, so this only sets how soon after the last byte has gone the flush returns.
constexpr milliseconds kQueuePause{1};

// A character of the longest framing: start, 8 data, parity and 2 stop bits.
constexpr std::uint64_t kBitsPerCharacter = 12;
constexpr milliseconds kDrainGrace{1000};

milliseconds SendingBound(std::uint32_t queued, std::uint32_t baudRate) {
    const std::uint64_t bitsPerSecond = std::max<std::uint32_t>(baudRate, 50);
    return kDrainGrace + milliseconds(1000 * kBitsPerCharacter * queued / bitsPerSecond);
}

}  // namespace

IoOutcome RunOverlapped(OverlappedOperation& operation, std::optional<milliseconds> limit) {
    long error = 0;
    switch (operation.Begin(error)) {
        case OverlappedOperation::Start::Failed:
            return {IoEnd::Completed, {0, error, false}};
        case OverlappedOperation::Start::Completed:
            return {IoEnd::Completed, operation.Finish()};
        case OverlappedOperation::Start::Pending:
            break;
    }
    const OverlappedOperation::Wake wake = operation.Wait(limit);
    if (wake == OverlappedOperation::Wake::Completed) {
        return {IoEnd::Completed, operation.Finish()};
    }
    // The call still holds its buffer and its OVERLAPPED: the system must let go of them
    // before the caller's stack frame does, whatever became of the call meanwhile.
    operation.Cancel();
    IoCompletion completion = operation.Finish();
    if (completion.cancelled) {
        completion.error = 0;
    }
    return {wake == OverlappedOperation::Wake::Stop ? IoEnd::Stopped : IoEnd::TimedOut, completion};
}

FlushEnd WaitUntilSent(OutputQueue& queue, std::uint32_t baudRate) {
    std::optional<std::uint32_t> queued = queue.Queued();
    if (!queued) {
        return FlushEnd::Unknown;
    }
    const auto deadline = queue.Now() + SendingBound(*queued, baudRate);
    while (*queued > 0) {
        if (queue.Now() >= deadline) {
            return FlushEnd::TimedOut;
        }
        if (queue.Pause(kQueuePause)) {
            return FlushEnd::Stopped;
        }
        queued = queue.Queued();
        if (!queued) {
            return FlushEnd::Unknown;
        }
    }
    return FlushEnd::Sent;
}

}  // namespace quorvale
