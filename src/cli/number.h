#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quorvale::cli {

// A whole unsigned number, decimal or hexadecimal after "0x" or "0X", no sign and no
// spaces, at most `max`. Anything else answers nothing.
std::optional<std::uint32_t> ParseNumber(std::string_view text, std::uint32_t max = UINT32_MAX);

// The index of `text` in the list of names, ignoring letter case; nothing when absent.
std::optional<std::uint8_t> IndexIgnoringCase(const char* const* names, std::size_t count,
                                              std::string_view text);

}  // namespace quorvale::cli
