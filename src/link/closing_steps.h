#pragma once

#include <span>

namespace quorvale {

enum class CloseStep {
    DiscardOutput,     // throw away what is still queued for the line
    ReleaseExclusive,  // give up the terminal's exclusive flag
    Close,
};

// What closing a port takes, in order. Output still queued is thrown away first when the
// download was stopped, or when no flush has seen it leave (the close after an exchange that
// failed, or a line that never drained): the driver would otherwise hold the close until the
// queue had drained, ten seconds for a block at 300 baud and up to thirty on Linux for a
// controller that has stopped taking data. After a flush that emptied the queue nothing is
// thrown away, so that nothing written is lost. (A USB-serial adapter still sends what it
// has already taken, at most about one block: its drivers keep no flush of their own.)
std::span<const CloseStep> ClosingSteps(bool stopRequested, bool outputUnflushed, bool exclusive);

}  // namespace quorvale
