#pragma once

#include <time.h>

#include <chrono>

namespace quorvale::test {

// How late a thread may run on a loaded machine (two test processes side by side, the
// sanitizers' slower code). Every upper bound on a time in the tests adds it, so that only a
// real fault fails them, never a busy machine.
inline constexpr std::chrono::milliseconds kTimingTolerance{200};

// The CPU time the calling thread has used so far: what a wait costs, as against how long
// it takes.
inline std::chrono::nanoseconds ThreadCpuTime() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

}  // namespace quorvale::test
