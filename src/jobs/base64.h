// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorvale {

// Standard base64 with padding, as keys and jobs carry bytes in text.
std::string Base64(std::span<const std::uint8_t> bytes);
// Nothing for text that is not exactly what Base64 writes: a character outside the
// alphabet, missing or misplaced padding, or bits left over in the last character.
std::optional<std::vector<std::uint8_t>> FromBase64(std::string_view text);

}  // namespace quorvale
