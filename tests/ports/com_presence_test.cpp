// SPDX-License-Identifier: Apache-2.0
#include "ports/com_presence.h"

#include <gtest/gtest.h>

namespace quorvale {
namespace {

TEST(ComPresence, NamesThatMeanAComPort) {
    const struct {
        const char* name;
        std::optional<std::string> port;
    } cases[] = {
        {"COM7", "COM7"},           {"com12", "com12"},        {"\\\\.\\COM12", "COM12"},
        {"COM", std::nullopt},      {"COM1a", std::nullopt},   {"/dev/ttyUSB0", std::nullopt},
        {"C:\\COM7", std::nullopt}, {"\\\\.\\", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ComPortName(c.name), c.port) << c.name;
    }
}

TEST(ComPresence, ThereOnlyWhenNamedAndOpenedAsADeviceOrHeld) {
    const struct {
        const char* name;
        ComLook look;
        bool present;
    } cases[] = {
        {"not in the name table", {false, false, false, false, 2}, false},
        {"an open's answer without the table's", {false, true, true, true, 0}, false},
        {"in the table, not opened (Windows)", {true, false, false, false, 0}, true},
        {"opened as a serial device", {true, true, true, true, 0}, true},
        // What wine answers for COM1 to COM9 with nothing behind them.
        {"opened as a device of no type", {true, true, true, false, 0}, false},
        {"held by another program", {true, true, false, false, kAccessDeniedCode}, true},
        {"shared away", {true, true, false, false, kSharingViolationCode}, true},
        {"gone between the table and the open", {true, true, false, false, 2}, false},
        {"driver not ready", {true, true, false, false, 31}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ComPortPresent(c.look), c.present) << c.name;
    }
    EXPECT_FALSE(LookOpensPort(true)) << "a look must never open a port on Windows";
    EXPECT_TRUE(LookOpensPort(false));
}

}  // namespace
}  // namespace quorvale
