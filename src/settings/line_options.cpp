// SPDX-License-Identifier: Apache-2.0
#include "settings/line_options.h"

#include <array>

#include "download/texts.h"
#include "settings/number.h"

namespace quorvale {
namespace {

// Takes an item's text, in any letter case, for its code.
template <typename Code, std::size_t N>
CLI::Validator OneOf(const std::array<SettingItem<Code>, N>& items) {
    std::string all;
    for (const auto& item : items) {
        all += all.empty() ? item.text : std::string("|") + item.text;
    }
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            const auto code = ItemCode(items, text);
            if (!code) {
                return "'" + text + "' is not one of " + all;
            }
            text = std::to_string(static_cast<unsigned>(*code));
            return {};
        },
        all);
}

}  // namespace

CLI::Validator Number(std::uint32_t min, std::uint32_t max) {
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            const auto value = ParseNumber(text, max);
            if (!value || *value < min) {
                return "'" + text + "' is not a number from " + std::to_string(min) + " to " +
                       std::to_string(max);
            }
            text = std::to_string(*value);
            return {};
        },
        "NUMBER");
}

void AddLineOptions(CLI::App& command, LineSettings& line, const std::string& prefix) {
    command.add_option("--" + prefix + "baud", line.baudRate, "Baud rate (default 9600)")
        ->transform(Number(1, UINT32_MAX));
    command.add_option("--" + prefix + "data-bits", line.dataBits, "6, 7 or 8 (default 8)")
        ->check(CLI::IsMember({6, 7, 8}));
    command.add_option("--" + prefix + "parity", line.parity, "None, Odd, Even, Mark or Space")
        ->transform(OneOf(SettingLists::Parities));
    command.add_option("--" + prefix + "stop-bits", line.stopBits, "1, 1.5 or 2 (default 1)")
        ->transform(OneOf(SettingLists::StopBitsChoices));
}

}  // namespace quorvale
