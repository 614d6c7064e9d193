// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "production/records.h"

namespace quorvale::cli {

// JSON Lines on one stream, each line written whole however many ports report at once.
class EventStream {
public:
    explicit EventStream(std::FILE* out) : m_out(out) {}

    // Adds "event", "port" and "time" (now, unless given) in front of `fields` and writes the
    // line.
    void Emit(const char* event, const std::string& port, const Json& fields = Json::object(),
              const std::string& time = {});

private:
    std::FILE* const m_out;
    std::mutex m_mutex;
};

}  // namespace quorvale::cli
