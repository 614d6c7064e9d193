// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <time.h>

#include <chrono>
#include <functional>
#include <thread>

namespace quorvale::test {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr int kSlowdown = 5;  // instrumented code, and a leak check at every exit
#else
inline constexpr int kSlowdown = 1;
#endif

// How late a thread or a process may be on a busy machine (two tests side by side, the
// sanitizers' slower code). Every upper bound on a time in the tests is the time the code
// should take plus this, so that only a real fault fails them, never a busy machine; and
// "promptly" means within it.
inline constexpr std::chrono::milliseconds kTimingTolerance{100 * kSlowdown};

// The CPU time the calling thread has used so far: what a wait costs, as against how long
// it takes.
inline std::chrono::nanoseconds ThreadCpuTime() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// Waits until `done` answers true, looking every millisecond, at most `limit`; answers whether
// it did. What a test waits for before it checks, in place of a sleep that a busy machine
// someday makes too short.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace quorvale::test
