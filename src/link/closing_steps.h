#pragma once

#include <span>

namespace quorvale {

enum class CloseStep {
    DiscardOutput,     // throw away what is still queued for the line
    ReleaseExclusive,  // give up the terminal's exclusive flag
    Close,
};

// What closing a port takes, in order. When the download was stopped, the output still queued
// is thrown away first: the driver would otherwise hold the close until the queue has drained
// (a block at 300 baud takes ten seconds, and Linux waits up to thirty for a stuck adapter).
// Otherwise the queue drains as usual, so that nothing written is lost.
std::span<const CloseStep> ClosingSteps(bool stopRequested, bool exclusive);

}  // namespace quorvale
