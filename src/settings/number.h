// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quorvale {

// A whole unsigned number, decimal or hexadecimal after "0x" or "0X", no sign and no
// spaces, at most `max`. Anything else answers nothing.
std::optional<std::uint32_t> ParseNumber(std::string_view text, std::uint32_t max = UINT32_MAX);

// Whether `name` is `text`, ignoring letter case.
bool EqualIgnoringCase(const char* name, std::string_view text);

}  // namespace quorvale
