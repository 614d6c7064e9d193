// SPDX-License-Identifier: Apache-2.0
#include "link/bootloader.h"

#include <gtest/gtest.h>

#include <numeric>

#include "link/frame.h"
#include "scripted_peer.h"
#include "support/timing.h"

namespace quorvale {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::Script;
using Clock = std::chrono::steady_clock;

// A port to a peer that answers every request of `requestLength` bytes with the reply that
// `replyFor` picks by the request's index (an empty reply means silence).
class BootloaderTest : public testing::Test {
protected:
    void Answer(std::size_t requestLength, std::function<Bytes(int)> replyFor) {
        m_peer.emplace(m_pty, requestLength, [replyFor](int index, const Bytes&) {
            return Script{{0ms, replyFor(index)}};
        });
    }
    std::vector<Bytes> Requests() const { return m_peer->Requests(); }

    sim::PseudoTerminal m_pty;
    PortHandle m_port = OpenPort(m_pty.SlavePath(), {19200, 8, Parity::None, StopBits::Two});
    std::optional<test::ScriptedPeer> m_peer;
};

TEST_F(BootloaderTest, QueryHardwareCodeTakesTheCodeFromTheReply) {
    Answer(3, [](int) { return Bytes{0x01, 0x01, 0x05, 0x05}; });
    std::uint8_t code = 0;
    ASSERT_TRUE(QueryHardwareCode(m_port, code));
    EXPECT_EQ(code, 5);
    EXPECT_EQ(Requests(), (std::vector<Bytes>{{0x01, 0x00, 0x01}}));
}

TEST_F(BootloaderTest, WrongLengthOrAnotherCommandsCodeFailsTheTryAndRetriesAtOnce) {
    // A longer frame, another command's reply, then the right one.
    const std::vector<Bytes> replies{
        {0x01, 0x02, 0x05, 0x06, 0x00}, {0x0D, 0x01, 0x05, 0x09}, {0x01, 0x01, 0x09, 0x09}};
    Answer(3, [replies](int index) { return replies.at(index); });
    std::uint8_t code = 0;
    const auto start = Clock::now();
    ASSERT_TRUE(QueryHardwareCode(m_port, code));
    EXPECT_EQ(code, 9);
    EXPECT_EQ(Requests().size(), 3u);
    EXPECT_LT(Clock::now() - start, test::kTimingTolerance);
}

TEST_F(BootloaderTest, NeverAnsweredFailsAfterThreeTriesOfOneSecond) {
    Answer(3, [](int) { return Bytes{}; });
    std::uint8_t code = 0x77;
    const auto start = Clock::now();
    EXPECT_FALSE(QueryHardwareCode(m_port, code));
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(code, 0x77);
    EXPECT_EQ(Requests().size(), 3u);
    EXPECT_GE(elapsed, 3000ms);
    EXPECT_LT(elapsed, 3 * ReplyInactivityLimit + test::kTimingTolerance);
}

TEST_F(BootloaderTest, SetVersionNumberWantsItsOwnVersionEchoed) {
    Answer(4, [](int index) {
        return index == 0 ? Bytes{0x0D, 0x01, 0x04, 0x08} : Bytes{0x0D, 0x01, 0x03, 0x0F};
    });
    EXPECT_TRUE(SetVersionNumber(m_port, 3));
    const Bytes request{0x0D, 0x01, 0x03, 0x0F};
    EXPECT_EQ(Requests(), (std::vector<Bytes>{request, request}));
}

TEST_F(BootloaderTest, SendDataBlockSendsHeaderDataAndDataChecksumInOneRequest) {
    Bytes data(256);
    std::iota(data.begin(), data.end(), std::uint8_t{0x10});
    const std::uint8_t dataXor =
        std::accumulate(data.begin(), data.end(), std::uint8_t{0},
                        [](std::uint8_t a, std::uint8_t b) { return a ^ b; });
    // Another address first, then the right echo. Byte 1 is not compared: with N = 1 the fifth
    // byte still ends the reply when it equals the checksum of the first four.
    Answer(262, [](int index) {
        return index == 0 ? Bytes{0x0F, 0x02, 0x12, 0x01, 0x1E}
                          : Bytes{0x0F, 0x01, 0x12, 0x00, 0x1C};
    });
    EXPECT_TRUE(SendDataBlock(m_port, 0x1200, 256, data.data()));

    Bytes expected{0x0F, 0x02, 0x12, 0x00, 0x1F};
    expected.insert(expected.end(), data.begin(), data.end());
    expected.push_back(dataXor);
    EXPECT_EQ(Requests(), (std::vector<Bytes>{expected, expected}));
}

TEST_F(BootloaderTest, AllErasedBlockIsSentWithDataChecksumZero) {
    const Bytes erased(256, 0xFF);
    Answer(262, [](int) { return Bytes{0x0F, 0x02, 0x00, 0x00, 0x0D}; });
    EXPECT_TRUE(SendDataBlock(m_port, 0x0000, 256, erased.data()));
    ASSERT_EQ(Requests().size(), 1u);
    EXPECT_EQ(Requests()[0].back(), 0x00);
}

}  // namespace
}  // namespace quorvale
