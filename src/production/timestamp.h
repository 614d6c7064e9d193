// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <string>

namespace quorvale {

// The events' and records' times: UTC, "YYYY-MM-DDTHH:MM:SS.mmmZ".
std::string UtcTimestamp(std::chrono::system_clock::time_point time);

}  // namespace quorvale
