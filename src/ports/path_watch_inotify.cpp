// SPDX-License-Identifier: Apache-2.0
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <optional>

#include "files/regular_file.h"
#include "ports/path_watch.h"

namespace quorvale {
namespace {

using Clock = std::chrono::steady_clock;

// Everything that can make a path below the watched folder appear or vanish: entries made,
// removed or renamed (udev puts its links in place by rename), and the folder itself going.
constexpr std::uint32_t kWatchedChanges =
    IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF;

// The deepest folder above `path` that exists: where whatever brings the path will show.
std::string NearestExistingFolder(const std::string& path) {
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code ignored;
    while (!folder.empty() && !std::filesystem::is_directory(folder, ignored)) {
        if (folder == folder.parent_path()) {
            break;
        }
        folder = folder.parent_path();
    }
    return folder.empty() ? std::string(".") : folder.string();
}

std::string ParentOf(const std::string& path) {
    const std::string parent = std::filesystem::path(path).parent_path().string();
    return parent.empty() ? std::string(".") : parent;
}

// The name of the path's entry in `folder`, when `folder` is the path's own; else nothing
// that an entry could be named.
std::string EntryName(const std::string& path, const std::string& folder) {
    return folder == ParentOf(path) ? std::filesystem::path(path).filename().string()
                                    : std::string();
}

void RaiseOnStop(int fd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(fd, &one, sizeof one);
}

// What the events queued since the last look say.
struct Changes {
    bool watchLost = false;  // the watched folder went or moved: a new watch is needed
    bool entryGone = false;  // the watched folder's entry `name` was removed or renamed away
};

// Reads away what inotify has queued. Most changes only mean "look at the path again"; these
// two can't be seen by looking, since the folder or the entry may be back by then.
Changes ReadChanges(int fd, int watch, const std::string& name) {
    Changes changes;
    alignas(inotify_event) char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->wd == watch) {
                changes.watchLost = changes.watchLost ||
                                    (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF));
                changes.entryGone =
                    changes.entryGone || ((event->mask & (IN_DELETE | IN_MOVED_FROM)) &&
                                          event->len > 0 && name == event->name);
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return changes;
}

int RemainingMs(std::optional<Clock::time_point> deadline) {
    if (!deadline) {
        return -1;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, INT32_MAX));
}

}  // namespace

bool PathExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

std::optional<PathStamp> StampPath(const std::string& path) {
    const auto part = [](const struct stat& info) {
        return PathStamp::Part{
            static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
            std::int64_t{info.st_ctim.tv_sec} * 1000000000 + info.st_ctim.tv_nsec};
    };
    struct stat link {};
    struct stat target {};
    if (::lstat(path.c_str(), &link) != 0 || ::stat(path.c_str(), &target) != 0) {
        return std::nullopt;
    }
    return PathStamp{part(link), part(target)};
}

Result<PathWait> WaitForPath(const std::string& path, bool present, std::stop_token stop,
                             std::optional<std::chrono::milliseconds> limit,
                             const std::optional<PathStamp>& plugged) {
    const auto reached = [&] {
        if (present) {
            return PathExists(path);
        }
        const auto now = StampPath(path);
        return !now || (plugged && *now != *plugged);
    };
    const FileDescriptor changes(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    const FileDescriptor stopped(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (changes.get() < 0 || stopped.get() < 0) {
        return Refused(Error::FromSystem(errno));
    }
    const std::stop_callback raise(stop, [&] { RaiseOnStop(stopped.get()); });
    std::optional<Clock::time_point> deadline;
    if (limit) {
        deadline = Clock::now() + *limit;
    }
    int watch = -1;
    std::string watched;
    for (;;) {
        // Armed before the path is looked at, so a change between the two is never missed; armed
        // again only when the folder to watch is another, since every removal of a watch is
        // itself an event.
        const std::string folder = NearestExistingFolder(path);
        if (watch < 0 || folder != watched) {
            if (watch >= 0) {
                ::inotify_rm_watch(changes.get(), watch);
            }
            watched = folder;
            watch =
                ::inotify_add_watch(changes.get(), folder.c_str(), kWatchedChanges | IN_ONLYDIR);
            if (watch < 0 && errno != ENOENT && errno != ENOTDIR) {
                return Refused(Error::FromSystem(errno));
            }
        }
        if (reached()) {
            return PathWait::Reached;
        }
        if (deadline && Clock::now() >= *deadline) {
            return PathWait::TimedOut;
        }
        pollfd entries[2] = {{changes.get(), POLLIN, 0}, {stopped.get(), POLLIN, 0}};
        // A folder that vanished between finding and watching it is found again at once.
        const int timeout = watch < 0 ? 0 : RemainingMs(deadline);
        const int ready = ::poll(entries, 2, timeout);
        if (stop.stop_requested()) {
            return PathWait::Stopped;
        }
        if (ready < 0 && errno != EINTR) {
            return Refused(Error::FromSystem(errno));
        }
        const Changes seen = ReadChanges(changes.get(), watch, EntryName(path, watched));
        // A port unplugged and plugged again between two looks still counts as gone.
        if (!present && (seen.entryGone || (seen.watchLost && watched == ParentOf(path)))) {
            return PathWait::Reached;
        }
        if (seen.watchLost) {
            // A folder moved away keeps its watch, which would only bring useless wake-ups.
            ::inotify_rm_watch(changes.get(), watch);
            watch = -1;
        }
    }
}

}  // namespace quorvale
