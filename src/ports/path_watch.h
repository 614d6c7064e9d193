// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>

#include "files/error.h"

namespace quorvale {

// What tells one appearance of a path from the next: the link and the node it leads to, each
// made anew when a device is plugged in again, even under the same names and numbers.
struct PathStamp {
    struct Part {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::int64_t changedNs = 0;
        bool operator==(const Part&) const = default;
    };
    Part link;
    Part target;
    bool operator==(const PathStamp&) const = default;
};

// The stamp of the path as it is now; nothing when it doesn't exist.
std::optional<PathStamp> StampPath(const std::string& path);

enum class PathWait {
    Reached,   // the path is there (or gone) as asked
    Stopped,   // the stop was requested first
    TimedOut,  // the limit ran out first
};

// Waits until `path` exists (`present`) or no longer does, following symbolic links: a device
// node or a link such as /dev/serial/by-path/... that udev puts in place. The nearest folder
// of the path that exists is watched, so the wait costs nothing while nothing changes there,
// and the path is looked at again after every change, including folders that come and go
// above it (only those: a link's target elsewhere is seen to go only with the link). Returns
// as soon as the stop is requested. Refused when the system can't watch the path.
//
// Waiting for the path to go, with `plugged` the stamp it had: a path that went and is back
// already, made anew, counts as gone.
Result<PathWait> WaitForPath(const std::string& path, bool present, std::stop_token stop,
                             std::optional<std::chrono::milliseconds> limit,
                             const std::optional<PathStamp>& plugged = std::nullopt);

// Whether `path` names something that exists now, following symbolic links.
bool PathExists(const std::string& path);

}  // namespace quorvale
