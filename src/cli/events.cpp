// SPDX-License-Identifier: Apache-2.0
#include "cli/events.h"

#include "production/timestamp.h"

namespace quorvale::cli {

void EventStream::Emit(const char* event, const std::string& port, const Json& fields,
                       const std::string& time) {
    Json object = {
        {"event", event},
        {"port", port},
        {"time", time.empty() ? UtcTimestamp(std::chrono::system_clock::now()) : time},
    };
    object.update(fields);
    const std::string line = JsonLine(object) + "\n";
    const std::lock_guard lock(m_mutex);
    std::fwrite(line.data(), 1, line.size(), m_out);
    std::fflush(m_out);
}

}  // namespace quorvale::cli
