#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

#include "download/worker.h"
#include "image/firmware_image.h"

namespace quorvale::cli {

// Fields keep the order they were written in, which makes the lines easy to read.
using Json = nlohmann::ordered_json;

// The events' and records' times: UTC, "YYYY-MM-DDTHH:MM:SS.mmmZ".
std::string UtcTimestamp(std::chrono::system_clock::time_point time);

// One line of JSON. Text that is not valid UTF-8 (a port or file name in another encoding)
// is written with replacement characters rather than refused.
std::string JsonLine(const Json& object);

// What every download of a run shares: the file and its header, as `start` events and records
// give them.
Json ImageFields(const std::string& file, const FirmwareImage& image);

// The name events and records give an outcome or a failure kind.
const char* OutcomeName(const DownloadResult& result);
const char* FailureKindName(FailureKind kind);

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
