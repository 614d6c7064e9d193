#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>

#include "download/session.h"
#include "image/firmware_image.h"

namespace quorvale {

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
const char* OutcomeName(const DownloadOutcome& result);
const char* FailureKindName(FailureKind kind);

// This machine's name, as records give it; empty if the system won't say.
std::string HostName();

}  // namespace quorvale
