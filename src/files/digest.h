// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace quorvale {

// The SHA-256 of `bytes` as 64 lower-case hex digits, by a cryptography library of the
// system's (Nettle on Linux, BCrypt on Windows); empty if that library fails.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

// Lower-case hex of `bytes`, two digits each, no separators.
std::string HexDigits(std::span<const std::uint8_t> bytes);

}  // namespace quorvale
