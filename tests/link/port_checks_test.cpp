// SPDX-License-Identifier: Apache-2.0
// What a port's driver answers, and what the link makes of it: the rate on the line, and
// errors that mean the device is gone. Pure decisions, so every driver's answer is a row here.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <cerrno>

#include "link/port_handle.h"

namespace quorvale {
namespace {

TEST(CheckRate, TheRateOnTheLineIsTheOneAskedForOrTheOpenFails) {
    struct Case {
        const char* driver;
        std::uint32_t asked;
        bool taken;
        std::optional<std::uint32_t> reported;
        std::uint32_t baseClock;
        std::optional<RateRefusal> expected;
    };
    const Case cases[] = {
        // A pseudo-terminal has no clock and keeps whatever it is given.
        {"pty", 250000, true, 250000, 0, std::nullopt},
        {"pty", 12345, true, 12345, 0, std::nullopt},
        // A 16550's 1.8432 MHz crystal: 115200 at divisor 1.
        {"16550", 9600, true, 9600, 115200, std::nullopt},
        {"16550", 57600, true, 57600, 115200, std::nullopt},
        {"16550", 110, true, 110, 115200, std::nullopt},
        // Above its top rate the 8250 driver keeps the rate it had, without an error.
        {"16550", 250000, true, 9600, 115200, RateRefusal{250000, 115200}},
        // Reads back as asked, but divisor 2 puts 57600 on the line.
        {"16550", 65535, true, 65535, 115200, RateRefusal{65535, 57600}},
        // 2.9 % away: divisor 2 again.
        {"16550", 56000, true, 56000, 115200, RateRefusal{56000, 57600}},
        // Divisor 111: 1037.8 baud, 1.2 % from 1050.
        {"16550", 1050, true, 1050, 115200, std::nullopt},
        // FTDI's 3 MHz clock in eighths.
        {"ftdi_sio", 57600, true, 57600, 24000000, std::nullopt},
        {"ftdi_sio", 250000, true, 250000, 24000000, std::nullopt},
        {"ftdi_sio", 3000000, true, 3000000, 24000000, std::nullopt},
        // A driver with no clock to report that put its own nearest rate in place.
        {"cp210x", 250000, true, 256000, 0, RateRefusal{250000, 256000}},
        {"cp210x", 57600, true, 57553, 0, std::nullopt},
        // The driver refused the request outright; what it holds says nothing of the rate.
        {"refused", 128000, false, 9600, 0, RateRefusal{128000, std::nullopt}},
        {"refused", 128000, false, 9600, 115200, RateRefusal{128000, 115200}},
        // An older mos7840 reports a nominal 9600 as its clock; its read-back is the answer.
        {"mos7840", 57600, true, 57600, 9600, std::nullopt},
        // A driver that won't say is taken at its word.
        {"silent", 19200, true, std::nullopt, 0, std::nullopt},
        // Rate 0 would hang the line up rather than set a rate.
        {"pty", 0, true, 9600, 0, RateRefusal{0, std::nullopt}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.driver << " at " << c.asked);
        EXPECT_EQ(CheckRate(c.asked, c.taken, c.reported, c.baseClock), c.expected);
    }
}

TEST(PortGone, ErrorsThatMeanTheDeviceIsGone) {
    struct Case {
        long error;
        bool gone;
    };
#ifdef _WIN32
    const Case cases[] = {
        {ERROR_DEVICE_NOT_CONNECTED, true}, {ERROR_BAD_COMMAND, true}, {ERROR_ACCESS_DENIED, false},
        {ERROR_INVALID_PARAMETER, false},   {ERROR_IO_PENDING, false}, {0, false},
    };
#else
    const Case cases[] = {
        {EIO, true},    {ENODEV, true}, {ENXIO, true},   {EAGAIN, false},
        {EINTR, false}, {EBUSY, false}, {EINVAL, false}, {0, false},
    };
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        EXPECT_EQ(MeansPortGone(c.error), c.gone);
    }
    // Reopening a port that was there: its node gone, or its driver let go of it; each in the
    // system's own codes.
#ifdef _WIN32
    const long goneOnReopen[] = {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
                                 ERROR_DEVICE_NOT_CONNECTED, ERROR_BAD_COMMAND};
    const long thereOnReopen[] = {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION,
                                  ERROR_INVALID_PARAMETER};
#else
    const long goneOnReopen[] = {ENOENT, ENODEV, ENXIO, EIO};
    const long thereOnReopen[] = {EACCES, EBUSY, ENOTTY};
#endif
    for (const long error : goneOnReopen) {
        EXPECT_TRUE(OpenErrorMeansGone(Error::FromSystem(error))) << error;
    }
    for (const long error : thereOnReopen) {
        EXPECT_FALSE(OpenErrorMeansGone(Error::FromSystem(error))) << error;
    }
}

}  // namespace
}  // namespace quorvale
