// SPDX-License-Identifier: Apache-2.0
// The Windows backend's waits, driven by fakes of the system's side: an overlapped call that
// completes, fails, is stopped or runs out of time, and an output queue that drains or not.
#include "link/overlapped_wait.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvale {
namespace {

using namespace std::chrono_literals;
using Start = OverlappedOperation::Start;
using Wake = OverlappedOperation::Wake;

// The system's codes, as a driver gives them: ERROR_OPERATION_ABORTED and
// ERROR_DEVICE_NOT_CONNECTED.
constexpr long kAborted = 995;
constexpr long kDeviceGone = 1167;

// A call that answers as scripted and notes what was asked of it, in order.
class FakeOperation final : public OverlappedOperation {
public:
    Start start = Start::Pending;
    long startError = 0;
    Wake wake = Wake::Completed;
    IoCompletion result;

    std::string calls;
    std::optional<std::chrono::milliseconds> limitSeen;

    Start Begin(long& error) override {
        Note("begin");
        error = startError;
        return start;
    }
    Wake Wait(std::optional<std::chrono::milliseconds> limit) override {
        Note("wait");
        limitSeen = limit;
        return wake;
    }
    void Cancel() override { Note("cancel"); }
    IoCompletion Finish() override {
        Note("finish");
        return result;
    }

private:
    void Note(const char* call) { calls += calls.empty() ? call : std::string(" ") + call; }
};

TEST(RunOverlapped, CancelsWhatAStopOrTheLimitCutsShortAndWaitsUntilTheSystemLetsGo) {
    struct Case {
        const char* what;
        Start start;
        long startError;
        Wake wake;
        IoCompletion result;
        const char* calls;
        IoOutcome expected;
    };
    const Case cases[] = {
        {"completes at once",
         Start::Completed,
         0,
         Wake::Completed,
         {5, 0, false},
         "begin finish",
         {IoEnd::Completed, {5, 0, false}}},
        {"refused at once",
         Start::Failed,
         kDeviceGone,
         Wake::Completed,
         {},
         "begin",
         {IoEnd::Completed, {0, kDeviceGone, false}}},
        {"completes while waited for",
         Start::Pending,
         0,
         Wake::Completed,
         {3, 0, false},
         "begin wait finish",
         {IoEnd::Completed, {3, 0, false}}},
        {"fails while waited for",
         Start::Pending,
         0,
         Wake::Completed,
         {0, kDeviceGone, false},
         "begin wait finish",
         {IoEnd::Completed, {0, kDeviceGone, false}}},
        // Not ours: the caller asks whether the device still answers.
        {"aborted by a purge",
         Start::Pending,
         0,
         Wake::Completed,
         {0, kAborted, true},
         "begin wait finish",
         {IoEnd::Completed, {0, kAborted, true}}},
        {"stopped",
         Start::Pending,
         0,
         Wake::Stop,
         {0, kAborted, true},
         "begin wait cancel finish",
         {IoEnd::Stopped, {0, 0, true}}},
        {"stopped after bytes came",
         Start::Pending,
         0,
         Wake::Stop,
         {2, kAborted, true},
         "begin wait cancel finish",
         {IoEnd::Stopped, {2, 0, true}}},
        {"stopped as it completed",
         Start::Pending,
         0,
         Wake::Stop,
         {7, 0, false},
         "begin wait cancel finish",
         {IoEnd::Stopped, {7, 0, false}}},
        {"out of time",
         Start::Pending,
         0,
         Wake::Expired,
         {0, kAborted, true},
         "begin wait cancel finish",
         {IoEnd::TimedOut, {0, 0, true}}},
        {"out of time as the device went",
         Start::Pending,
         0,
         Wake::Expired,
         {0, kDeviceGone, false},
         "begin wait cancel finish",
         {IoEnd::TimedOut, {0, kDeviceGone, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeOperation operation;
        operation.start = c.start;
        operation.startError = c.startError;
        operation.wake = c.wake;
        operation.result = c.result;
        EXPECT_EQ(RunOverlapped(operation, 40ms), c.expected);
        EXPECT_EQ(operation.calls, c.calls);
    }
}

TEST(RunOverlapped, WaitsAsLongAsItIsTold) {
    FakeOperation limited;
    (void)RunOverlapped(limited, 40ms);
    EXPECT_EQ(limited.limitSeen, 40ms);
    FakeOperation unlimited;
    (void)RunOverlapped(unlimited, std::nullopt);
    EXPECT_EQ(unlimited.limitSeen, std::nullopt);
}

// A queue that answers as scripted (the last answer for ever), on a clock that only the
// pauses move; a stop comes at the pause numbered `stopAtPause`.
class FakeQueue final : public OutputQueue {
public:
    FakeQueue(std::vector<std::optional<std::uint32_t>> answers, int stopAtPause)
        : m_answers(std::move(answers)), m_stopAtPause(stopAtPause) {}

    std::optional<std::uint32_t> Queued() override {
        const std::size_t at = std::min(m_looks++, m_answers.size() - 1);
        return m_answers[at];
    }
    bool Pause(std::chrono::milliseconds pause) override {
        if (m_pauses++ == m_stopAtPause) {
            return true;
        }
        m_now += pause;
        return false;
    }
    Clock::time_point Now() const override { return m_now; }

    std::chrono::milliseconds Elapsed() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(m_now - Clock::time_point{});
    }

private:
    const std::vector<std::optional<std::uint32_t>> m_answers;
    const int m_stopAtPause;
    std::size_t m_looks = 0;
    int m_pauses = 0;
    Clock::time_point m_now{};
};

TEST(WaitUntilSent, EndsWhenTheQueueIsEmptyOnAStopOrWhenTheLineShouldLongHaveSentIt) {
    constexpr int kNoStop = -1;
    struct Case {
        const char* what;
        std::vector<std::optional<std::uint32_t>> answers;
        int stopAtPause;
        std::uint32_t baudRate;
        FlushEnd expected;
        std::chrono::milliseconds elapsed;
    };
    const Case cases[] = {
        {"empty already", {0}, kNoStop, 9600, FlushEnd::Sent, 0ms},
        {"drains", {3, 1, 0}, kNoStop, 9600, FlushEnd::Sent, 2ms},
        {"stopped while draining", {5}, 2, 9600, FlushEnd::Stopped, 2ms},
        // 262 bytes of 12 bits at 300 baud: 10.48 s, and the second to spare.
        {"a block that never leaves", {262}, kNoStop, 300, FlushEnd::TimedOut, 11480ms},
        {"rate 0 counts as the slowest", {5}, kNoStop, 0, FlushEnd::TimedOut, 2200ms},
        {"the driver won't say", {std::nullopt}, kNoStop, 9600, FlushEnd::Unknown, 0ms},
        {"the driver stops answering", {4, std::nullopt}, kNoStop, 9600, FlushEnd::Unknown, 1ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeQueue queue{c.answers, c.stopAtPause};
        EXPECT_EQ(WaitUntilSent(queue, c.baudRate), c.expected);
        EXPECT_EQ(queue.Elapsed(), c.elapsed);
    }
}

}  // namespace
}  // namespace quorvale
