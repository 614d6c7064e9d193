// SPDX-License-Identifier: Apache-2.0
#include "sim/controller.h"

#include <gtest/gtest.h>

#include "link/port_handle.h"
#include "support/timing.h"

namespace quorvale::sim {
namespace {

using namespace std::chrono_literals;

const std::uint8_t kEntryRequest[] = {0x5A, 0x5A, 0x5A, 0x04, 0x3C, 0xC3};

TEST(SimulatedController, StartsCookedLikeAFreshTerminal) {
    SimulatedController sim;
    PseudoTerminal pty;
    EXPECT_TRUE(pty.ReadLineState().cooked);
}

TEST(SimulatedController, TakesTheEntryRequestOnlyAtTheApplicationsSettings) {
    ControllerConfig config;
    config.application = {115200, 8, Parity::None, StopBits::Two};
    SimulatedController sim(config);
    const LineSettings wrongSettings[] = {
        {9600, 8, Parity::None, StopBits::Two},
        {115200, 8, Parity::None, StopBits::One},
    };
    std::size_t sent = 0;
    for (const LineSettings& wrong : wrongSettings) {
        PortHandle port = OpenPort(sim.PortPath(), wrong);
        WritePort(port, kEntryRequest, sizeof kEntryRequest);
        sent += sizeof kEntryRequest;
        // The controller samples the settings when it reads: it must have taken the request
        // before the port is reopened at other settings.
        ASSERT_TRUE(test::WaitUntil([&] { return sim.Received().size() == sent; }, 5s));
    }
    EXPECT_EQ(sim.HandOvers(), 0u);
    PortHandle port = OpenPort(sim.PortPath(), config.application);
    // A repeated first byte must not hide the request that follows it.
    const std::uint8_t leadingByte = 0x5A;
    WritePort(port, &leadingByte, 1);
    WritePort(port, kEntryRequest, sizeof kEntryRequest);
    EXPECT_TRUE(test::WaitUntil([&] { return sim.HandOvers() == 1; }, 5s));
}

}  // namespace
}  // namespace quorvale::sim
