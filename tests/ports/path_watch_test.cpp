// SPDX-License-Identifier: Apache-2.0
#include "ports/path_watch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "support/temp_dir.h"
#include "support/timing.h"

namespace quorvale {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

struct WaitCase {
    const char* name;
    bool present;                                        // waiting for the path to appear, or to go
    std::function<void(const std::string& dir)> before;  // done before the wait
    std::function<void(const std::string& dir)> during;  // done 200 ms into it
    PathWait expected;
};

void Touch(const std::string& path) {
    std::ofstream(path).put('x');
}

// The path waited for is DIR/a/b/port; a wait must cost no CPU while nothing it cares about
// changes, however busy the folder it watches is.
TEST(PathWatch, WaitsForThePathThroughFoldersThatComeAndGo) {
    const WaitCase cases[] = {
        {"its folders and the link appear later",
         true,
         {},
         [](const std::string& dir) {
             fs::create_directories(dir + "/a/b");
             fs::create_symlink("/dev/null", dir + "/a/b/port.tmp");
             fs::rename(dir + "/a/b/port.tmp", dir + "/a/b/port");
         },
         PathWait::Reached},
        {"its folder goes and comes back", true,
         [](const std::string& dir) { fs::create_directories(dir + "/a/b"); },
         [](const std::string& dir) {
             fs::remove(dir + "/a/b");
             fs::create_directories(dir + "/a/b");
             std::this_thread::sleep_for(50ms);
             Touch(dir + "/a/b/port");
         },
         PathWait::Reached},
        {"it goes with its folder", false,
         [](const std::string& dir) {
             fs::create_directories(dir + "/a/b");
             Touch(dir + "/a/b/port");
         },
         [](const std::string& dir) { fs::remove_all(dir + "/a"); }, PathWait::Reached},
        {"it goes and is back at once", false,
         [](const std::string& dir) {
             fs::create_directories(dir + "/a/b");
             Touch(dir + "/a/b/port");
         },
         [](const std::string& dir) {
             fs::remove(dir + "/a/b/port");
             Touch(dir + "/a/b/port");
         },
         PathWait::Reached},
        {"only other entries change", true,
         [](const std::string& dir) { fs::create_directories(dir + "/a/b"); },
         [](const std::string& dir) {
             for (int i = 0; i < 20; ++i) {
                 Touch(dir + "/a/b/other" + std::to_string(i));
             }
         },
         PathWait::TimedOut},
    };
    for (const WaitCase& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        if (c.before) {
            c.before(dir.path());
        }
        std::jthread changer([&] {
            std::this_thread::sleep_for(200ms);
            c.during(dir.path());
        });
        const auto cpuBefore = test::ThreadCpuTime();
        EXPECT_EQ(WaitForPath(dir.path() + "/a/b/port", c.present, {}, 1s), c.expected);
        EXPECT_LT(test::ThreadCpuTime() - cpuBefore, 50ms);
    }
}

// A controller that replaced the last one before the wait began: a link made anew to the
// same node, as udev makes one at each plug.
TEST(PathWatch, APathMadeAnewCountsAsGone) {
    test::TempDir dir;
    const std::string port = dir.File("port");
    fs::create_symlink("/dev/null", port);
    const std::optional<PathStamp> plugged = StampPath(port);
    ASSERT_TRUE(plugged);
    EXPECT_EQ(WaitForPath(port, false, {}, 0ms, plugged), PathWait::TimedOut);

    fs::remove(port);
    // A file system may hand the freed inode number out again at once; the change time tells
    // the two apart, at the granularity of the kernel's clock tick.
    std::this_thread::sleep_for(20ms);
    fs::create_symlink("/dev/null", port);
    EXPECT_EQ(WaitForPath(port, false, {}, 0ms, plugged), PathWait::Reached);
}

TEST(PathWatch, StopEndsTheWaitAtOnce) {
    test::TempDir dir;
    std::stop_source stop;
    std::jthread stopper([&] {
        std::this_thread::sleep_for(100ms);
        stop.request_stop();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForPath(dir.File("never"), true, stop.get_token(), std::nullopt),
              PathWait::Stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms + test::kTimingTolerance);
}

}  // namespace
}  // namespace quorvale
