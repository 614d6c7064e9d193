// SPDX-License-Identifier: Apache-2.0
#include "settings/number.h"

#include <strings.h>

#include <charconv>
#include <string>

namespace quorvale {

std::optional<std::uint32_t> ParseNumber(std::string_view text, std::uint32_t max) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    // from_chars would accept a sign for neither base, but be explicit about empty text.
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stopped, error] = std::from_chars(text.data(), end, value, base);
    if (error != std::errc() || stopped != end || value > max) {
        return std::nullopt;
    }
    return value;
}

bool EqualIgnoringCase(const char* name, std::string_view text) {
    return ::strcasecmp(name, std::string(text).c_str()) == 0;
}

}  // namespace quorvale
