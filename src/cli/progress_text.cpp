// SPDX-License-Identifier: Apache-2.0
#include "cli/progress_text.h"

#include "download/texts.h"

namespace quorvale::cli {
namespace {

constexpr unsigned kBarWidth = 30;

unsigned Percent(std::uint32_t done, std::uint32_t total) {
    return total == 0 ? 100u : static_cast<unsigned>(std::uint64_t{done} * 100 / total);
}

}  // namespace

std::string ProgressBar(std::uint32_t done, std::uint32_t total, std::uint32_t elapsedMs) {
    const unsigned percent = Percent(done, total);
    const unsigned filled = percent * kBarWidth / 100;
    const std::string bar = std::string(filled, '#') + std::string(kBarWidth - filled, '.');
    return FormatText("[%s] %3u%%  %u/%u bytes  %s", bar.c_str(), percent, done, total,
                      ElapsedText(elapsedMs).c_str());
}

std::optional<std::string> ProgressLine(std::uint32_t done, std::uint32_t total,
                                        std::uint32_t elapsedMs, unsigned& lastTenth) {
    const unsigned tenth = Percent(done, total) / 10;
    if (tenth <= lastTenth) {
        return std::nullopt;
    }
    lastTenth = tenth;
    return FormatText("Progress %3u%%  %u/%u bytes  %s", tenth * 10, done, total,
                      ElapsedText(elapsedMs).c_str());
}

}  // namespace quorvale::cli
