// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quorvale::cli {

// A bar for a terminal, redrawn in place: "[#####.....]  50%  512/1024 bytes  0:01".
std::string ProgressBar(std::uint32_t done, std::uint32_t total, std::uint32_t elapsedMs);

// For logs: a line each time the download passes another tenth. `lastTenth` remembers the
// last one written, starting at 0.
std::optional<std::string> ProgressLine(std::uint32_t done, std::uint32_t total,
                                        std::uint32_t elapsedMs, unsigned& lastTenth);

}  // namespace quorvale::cli
