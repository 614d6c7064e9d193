// SPDX-License-Identifier: Apache-2.0
#include "download/texts.h"

#include <gtest/gtest.h>

#include "cli/events.h"
#include "cli/progress_text.h"
#include "cli/trace.h"
#include "image/firmware_image.h"
#include "production/timestamp.h"
#include "settings/number.h"

namespace quorvale {
namespace {

TEST(Texts, CompletionTimeInMinutesAndSeconds) {
    const std::pair<std::uint32_t, const char*> cases[] = {
        {125000, "Download completed (time taken 2:05)"},
        {59999, "Download completed (time taken 0:59)"},
        {3600000, "Download completed (time taken 60:00)"},
    };
    for (const auto& [elapsed, text] : cases) {
        EXPECT_EQ(CompletedText(elapsed), text);
    }
}

TEST(Texts, LoadResultMessagesPutThePathOnTheSecondLine) {
    EXPECT_EQ(LoadResultMessage(LoadOpenFailed, "/x/fw.qvx"), "Failed to open file\n'/x/fw.qvx'");
    EXPECT_EQ(LoadResultMessage(LoadBadChecksum, "a b"), "File checksum is incorrect\n'a b'");
    EXPECT_EQ(LoadResultMessage(7, "f"), "Unexpected problem reading file\n'f'");
    EXPECT_EQ(LoadResultMessage(-1, "f"), "Unexpected problem reading file\n'f'");
    // A path is data, never a format.
    EXPECT_EQ(LoadResultMessage(LoadBadSize, "%s%n"), "File size is incorrect\n'%s%n'");
}

TEST(CommandLine, TraceAndEventFormats) {
    const std::pair<LineSettings, const char*> framings[] = {
        {{9600, 8, Parity::None, StopBits::One}, "8N1"},
        {{19200, 7, Parity::Even, StopBits::OnePointFive}, "7E1.5"},
        {{300, 6, Parity::Space, StopBits::Two}, "6S2"},
        {{300, 8, Parity::Mark, StopBits::One}, "8M1"},
        {{300, 8, Parity::Odd, StopBits::One}, "8O1"},
    };
    for (const auto& [settings, text] : framings) {
        EXPECT_EQ(cli::FramingText(settings), text);
    }
    // 2026-12-10 09:14:03.5 UTC, and the first millisecond of a day.
    using std::chrono::milliseconds;
    EXPECT_EQ(UtcTimestamp(std::chrono::system_clock::time_point(milliseconds(1796894043500))),
              "2026-12-10T09:14:03.500Z");
    EXPECT_EQ(UtcTimestamp(std::chrono::system_clock::time_point(milliseconds(86400001))),
              "1970-01-02T00:00:00.001Z");
    // A name in another encoding is written, not refused.
    EXPECT_EQ(JsonLine({{"port", "/dev/tty\xff"}}), "{\"port\":\"/dev/tty\xef\xbf\xbd\"}");
}

TEST(CommandLine, NumbersInDecimalOrHex) {
    const std::pair<const char*, std::optional<std::uint32_t>> cases[] = {
        {"0", 0u},
        {"4096", 4096u},
        {"0x1000", 4096u},
        {"0XfF", 255u},
        {"4294967295", 4294967295u},
        {"4294967296", std::nullopt},
        {"", std::nullopt},
        {"0x", std::nullopt},
        {"-1", std::nullopt},
        {"+1", std::nullopt},
        {" 1", std::nullopt},
        {"1 ", std::nullopt},
        {"12ab", std::nullopt},
        {"0x-1", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(ParseNumber(text), expected) << "'" << text << "'";
    }
    EXPECT_EQ(ParseNumber("256", 255), std::nullopt);
}

TEST(CommandLine, OneLinePerTenthInLogs) {
    unsigned lastTenth = 0;
    std::vector<std::string> lines;
    for (std::uint32_t done = 256; done <= 4096; done += 256) {
        if (const auto line = cli::ProgressLine(done, 4096, 61000, lastTenth)) {
            lines.push_back(*line);
        }
    }
    // The repeated final report adds nothing.
    EXPECT_FALSE(cli::ProgressLine(4096, 4096, 61000, lastTenth));
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines.front(), "Progress  10%  512/4096 bytes  1:01");
    EXPECT_EQ(lines.back(), "Progress 100%  4096/4096 bytes  1:01");
    EXPECT_EQ(cli::ProgressBar(2048, 4096, 0),
              "[###############...............]  50%  2048/4096 bytes  0:00");
}

}  // namespace
}  // namespace quorvale
