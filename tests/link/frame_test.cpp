// SPDX-License-Identifier: Apache-2.0
#include "link/frame.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <thread>

#include "scripted_peer.h"
#include "support/timing.h"

namespace quorvale {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::Chunk;
using test::Script;
using Clock = std::chrono::steady_clock;

const ByteBuffer kQuery{0x01, 0x00, 0x01};

struct Outcome {
    bool result;
    Bytes reply;
    Clock::duration elapsed;
};

// Runs one transaction of the query request against a peer that plays `script`.
Outcome Transact(const Script& script, const Bytes& waitingBefore = {}) {
    sim::PseudoTerminal pty;
    PortHandle port = OpenPort(pty.SlavePath(), {19200, 8, Parity::None, StopBits::Two});
    EXPECT_TRUE(port.IsValid());
    if (!waitingBefore.empty()) {
        pty.Write(waitingBefore.data(), waitingBefore.size());
        EXPECT_TRUE(test::WaitUntil(
            [&] {
                int count = 0;
                return ::ioctl(NativeDescriptor(port), FIONREAD, &count) == 0 &&
                       std::size_t(count) == waitingBefore.size();
            },
            1s));
    }
    test::ScriptedPeer peer(pty, kQuery.Length(), [&](int, const Bytes&) { return script; });
    ByteBuffer reply;
    const auto start = Clock::now();
    const bool result = TransactFrame(port, kQuery, reply);
    return {result, Bytes(reply.Data(), reply.Data() + reply.Length()), Clock::now() - start};
}

TEST(TransactFrame, CompleteFramesWithMatchingChecksum) {
    const Outcome withPayload = Transact({{0ms, {0x01, 0x01, 0x05, 0x05}}});
    EXPECT_TRUE(withPayload.result);
    EXPECT_EQ(withPayload.reply, (Bytes{0x01, 0x01, 0x05, 0x05}));

    const Outcome empty = Transact({{0ms, {0x0D, 0x00, 0x0D}}});
    EXPECT_TRUE(empty.result);
    EXPECT_EQ(empty.reply, (Bytes{0x0D, 0x00, 0x0D}));
}

TEST(TransactFrame, DropsAByteThatWasWaitingBeforeTheRequest) {
    const Outcome outcome = Transact({{0ms, {0x01, 0x01, 0x05, 0x05}}}, {0x01});
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(outcome.reply, (Bytes{0x01, 0x01, 0x05, 0x05}));
}

TEST(TransactFrame, FailsOneSecondAfterTheLastByteOfABadReply) {
    for (const Bytes& bad : {Bytes{0x01, 0x01, 0x05, 0x06}, Bytes{0x01, 0x01}}) {
        const Outcome outcome = Transact({{300ms, bad}});
        EXPECT_FALSE(outcome.result);
        EXPECT_EQ(outcome.reply, bad);
        EXPECT_GE(outcome.elapsed, 1250ms);
        EXPECT_LT(outcome.elapsed, 300ms + ReplyInactivityLimit + test::kTimingTolerance);
    }
}

TEST(TransactFrame, EveryByteRestartsTheInactivityLimit) {
    const Outcome outcome =
        Transact({{0ms, {0x01}}, {600ms, {0x01}}, {600ms, {0x05}}, {600ms, {0x05}}});
    EXPECT_TRUE(outcome.result);
    EXPECT_GE(outcome.elapsed, 1800ms);
}

TEST(TransactFrame, GivesUpAtOnceWhenNoiseRunsPastTheLargestFrame) {
    // 00 00 01 is complete with a wrong checksum; the ones that follow never match it.
    Bytes noise{0x00, 0x00, 0x01};
    noise.resize(300, 0x01);
    const Outcome outcome = Transact({{0ms, noise}});
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(outcome.reply.size(), MaxFrameLength + 1);
    EXPECT_LT(outcome.elapsed, test::kTimingTolerance);
}

TEST(TransactFrame, EndsAtOnceWhenThePortGoesAway) {
    // A pulled adapter: the port reads as ready for ever, and every read finds nothing. That
    // is no controller to wait for.
    sim::PseudoTerminal pty;
    PortHandle port = OpenPort(pty.SlavePath(), {19200, 8, Parity::None, StopBits::Two});
    ASSERT_TRUE(port.IsValid());
    pty.Close();

    ByteBuffer reply;
    const auto cpuBefore = test::ThreadCpuTime();
    const auto start = Clock::now();
    EXPECT_FALSE(TransactFrame(port, kQuery, reply));
    EXPECT_LT(Clock::now() - start, test::kTimingTolerance);
    EXPECT_LT(test::ThreadCpuTime() - cpuBefore, 50ms);
    ASSERT_TRUE(port.Lost());
    // The other side of a pseudo-terminal closing reads as an I/O error; a hung-up line has
    // no error at all.
    EXPECT_TRUE(port.Lost()->error == EIO || port.Lost()->error == 0) << port.Lost()->error;
}

TEST(TransactFrame, EndsSoonAfterStopIsRequested) {
    sim::PseudoTerminal pty;
    std::stop_source stop;
    PortHandle port =
        OpenPort(pty.SlavePath(), {19200, 8, Parity::None, StopBits::Two}, stop.get_token());
    std::jthread stopper([&] {
        std::this_thread::sleep_for(100ms);
        stop.request_stop();
    });
    ByteBuffer reply;
    const auto start = Clock::now();
    EXPECT_FALSE(TransactFrame(port, kQuery, reply));
    EXPECT_LT(Clock::now() - start, 100ms + test::kTimingTolerance);
}

}  // namespace
}  // namespace quorvale
