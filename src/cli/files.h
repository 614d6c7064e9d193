#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quorvale::cli {

// Writes through a temporary file in the same folder and renames it over `path`, so that a
// reader sees the old file or the whole new one, never a part. Answers an error text, or
// nothing on success.
std::optional<std::string> WriteFileAtomically(const std::string& path,
                                               std::span<const std::uint8_t> bytes);

// Reads a regular file of at most `limit` bytes. Answers an error text in `error` when the
// file can't be read, isn't a regular file, or is larger.
std::optional<std::vector<std::uint8_t>> ReadSmallFile(const std::string& path, std::size_t limit,
                                                       std::string& error);

}  // namespace quorvale::cli
