// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <CLI/CLI.hpp>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "download/texts.h"
#include "link/port_handle.h"
#include "settings/number.h"

namespace quorvale {

// The code of the item whose text is `text`, ignoring letter case; nothing when none is.
template <typename Code, std::size_t N>
std::optional<Code> ItemCode(const std::array<SettingItem<Code>, N>& items, std::string_view text) {
    for (const auto& item : items) {
        if (EqualIgnoringCase(item.text, text)) {
            return item.code;
        }
    }
    return std::nullopt;
}

// Takes decimal or 0x hexadecimal from `min` to `max` and hands the option its decimal form.
CLI::Validator Number(std::uint32_t min, std::uint32_t max);

// --baud, --data-bits, --parity and --stop-bits (each name after `prefix`): a serial line's
// settings, taking the items of the dialog's lists in any letter case.
void AddLineOptions(CLI::App& command, LineSettings& line, const std::string& prefix);

}  // namespace quorvale
