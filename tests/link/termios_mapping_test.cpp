// SPDX-License-Identifier: Apache-2.0
#include "link/termios_mapping.h"

#include <gtest/gtest.h>

namespace quorvale {
namespace {

termios CookedLine() {
    termios t{};
    t.c_iflag = ICRNL | IXON | IXOFF | INPCK | BRKINT | PARMRK | IUCLC;
    t.c_oflag = OPOST | ONLCR;
    t.c_cflag = CS8 | CREAD | CRTSCTS | HUPCL;
    t.c_lflag = ICANON | ECHO | ECHOE | ISIG | IEXTEN;
    t.c_cc[VMIN] = 1;
    cfsetspeed(&t, B38400);
    return t;
}

TEST(TermiosMapping, EveryDataBitsParityAndStopBitsValue) {
    struct Case {
        LineSettings settings;
        tcflag_t size;
        tcflag_t parity;
        bool twoStopBits;
    };
    const Case cases[] = {
        {{9600, 5, Parity::None, StopBits::One}, CS5, 0, false},
        {{9600, 6, Parity::Odd, StopBits::OnePointFive}, CS6, PARENB | PARODD, true},
        {{9600, 7, Parity::Even, StopBits::Two}, CS7, PARENB, true},
        {{9600, 8, Parity::Mark, StopBits::One}, CS8, PARENB | CMSPAR | PARODD, false},
        {{9600, 8, Parity::Space, StopBits::Two}, CS8, PARENB | CMSPAR, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << int(c.settings.dataBits) << " bits, parity " << int(c.settings.parity));
        const termios t = MakeLineTermios(CookedLine(), c.settings);
        EXPECT_EQ(t.c_cflag & CSIZE, c.size);
        EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), c.parity);
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStopBits);
    }
}

TEST(TermiosMapping, BinaryModeWithoutOutputFlowControlKeepsInputFlowAndParityCheck) {
    const termios t = MakeLineTermios(CookedLine(), {19200, 8, Parity::None, StopBits::Two});
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHOE | ECHONL | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(
        t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IGNBRK | BRKINT | IXON | PARMRK | IUCLC), 0u);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), CLOCAL | CREAD);
    EXPECT_EQ(t.c_iflag & (IXOFF | INPCK), IXOFF | INPCK);
    EXPECT_EQ(t.c_cflag & HUPCL, HUPCL);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    EXPECT_EQ(cfgetospeed(&t), B19200);
}

TEST(TermiosMapping, UnknownCodesLeaveTheLineAsItWas) {
    const termios before = MakeLineTermios(CookedLine(), {9600, 7, Parity::Even, StopBits::Two});
    const termios after =
        MakeLineTermios(before, {9600, 9, static_cast<Parity>(5), static_cast<StopBits>(3)});
    EXPECT_EQ(after.c_cflag, before.c_cflag);
}

TEST(TermiosMapping, OnlyTermiosRatesAreStandard) {
    for (std::uint32_t rate : {110u, 9600u, 19200u, 57600u, 115200u, 230400u}) {
        EXPECT_TRUE(StandardSpeed(rate).has_value()) << rate;
    }
    for (std::uint32_t rate : {0u, 14400u, 56000u, 128000u, 256000u, 65535u}) {
        EXPECT_FALSE(StandardSpeed(rate).has_value()) << rate;
    }
}

}  // namespace
}  // namespace quorvale
