#include "sim/controller.h"

#include <gtest/gtest.h>

#include <thread>

#include "link/serial_port.h"

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
    for (const LineSettings& wrong : wrongSettings) {
        PortHandle port = OpenPort(sim.PortPath(), wrong);
        WritePort(port, kEntryRequest, sizeof kEntryRequest);
        // The controller samples the settings when it reads; give it the time the tool's
        // own pause after the request gives it.
        std::this_thread::sleep_for(20ms);
    }
    PortHandle port = OpenPort(sim.PortPath(), config.application);
    // A repeated first byte must not hide the request that follows it.
    const std::uint8_t leadingByte = 0x5A;
    WritePort(port, &leadingByte, 1);
    WritePort(port, kEntryRequest, sizeof kEntryRequest);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(sim.HandOvers(), 1u);
}

}  // namespace
}  // namespace quorvale::sim
