// SPDX-License-Identifier: Apache-2.0
#include "production/timestamp.h"

#include <cstdio>
#include <ctime>

namespace quorvale {

std::string UtcTimestamp(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto milliseconds = duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
    const std::time_t seconds =
        static_cast<std::time_t>(floor<std::chrono::seconds>(milliseconds).count());
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03dZ",
                  static_cast<int>(milliseconds.count() % 1000));
    return text;
}

}  // namespace quorvale
