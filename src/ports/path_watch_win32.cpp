// SPDX-License-Identifier: Apache-2.0
// Windows has no file system events for COM names: the name's presence in the DOS device
// table is looked at a few times a second instead.
#include <windows.h>

#include <condition_variable>
#include <mutex>

#include "ports/path_watch.h"

namespace quorvale {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kLookAgain = std::chrono::milliseconds(200);

bool IsDosDevice(const std::string& name) {
    char target[1024];
    return QueryDosDeviceA(name.c_str(), target, sizeof target) != 0;
}

}  // namespace

bool PathExists(const std::string& path) {
    return IsDosDevice(path) || GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A COM name has nothing to tell one plug from the next by.
std::optional<PathStamp> StampPath(const std::string& path) {
    return PathExists(path) ? std::optional<PathStamp>(PathStamp{}) : std::nullopt;
}

Result<PathWait> WaitForPath(const std::string& path, bool present, std::stop_token stop,
                             std::optional<std::chrono::milliseconds> limit,
                             const std::optional<PathStamp>&) {
    const auto deadline = limit ? Clock::now() + *limit : Clock::time_point::max();
    std::mutex mutex;
    std::condition_variable_any wakeUp;
    std::unique_lock lock(mutex);
    while (PathExists(path) != present) {
        if (Clock::now() >= deadline) {
            return PathWait::TimedOut;
        }
        wakeUp.wait_for(lock, stop, kLookAgain, [] { return false; });
        if (stop.stop_requested()) {
            return PathWait::Stopped;
        }
    }
    return PathWait::Reached;
}

}  // namespace quorvale
