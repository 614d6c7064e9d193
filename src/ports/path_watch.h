#pragma once

#include <chrono>
#include <optional>
#include <stop_token>
#include <string>

namespace quorvale {

enum class PathWait {
    Reached,   // the path is there (or gone) as asked
    Stopped,   // the stop was requested first
    TimedOut,  // the limit ran out first
    Failed,    // the system can't watch the path (errno-style code in `error`)
};

// Waits until `path` exists (`present`) or no longer does, following symbolic links: a device
// node or a link such as /dev/serial/by-path/... that udev puts in place. The nearest folder
// of the path that exists is watched, so the wait costs nothing while nothing changes there,
// and the path is looked at again after every change, including folders that come and go
// above it. Returns as soon as the stop is requested.
PathWait WaitForPath(const std::string& path, bool present, std::stop_token stop,
                     std::optional<std::chrono::milliseconds> limit, int& error);

// Whether `path` names something that exists now, following symbolic links.
bool PathExists(const std::string& path);

}  // namespace quorvale
