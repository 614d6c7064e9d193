// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quorvale {

using Sha256Digest = std::array<std::uint8_t, 32>;

// The SHA-256 of `bytes`, by a cryptography library of the system's (Nettle on Linux, BCrypt on
// Windows); nothing if that library fails.
std::optional<Sha256Digest> Sha256(std::span<const std::uint8_t> bytes);

// The same as 64 lower-case hex digits; empty if the library fails.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

// Lower-case hex of `bytes`, two digits each, no separators.
std::string HexDigits(std::span<const std::uint8_t> bytes);

}  // namespace quorvale
