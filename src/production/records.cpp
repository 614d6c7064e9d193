#include "production/records.h"

#include <cstdio>
#include <ctime>

#include "download/texts.h"
#include "files/digest.h"

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

std::string JsonLine(const Json& object) {
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json ImageFields(const std::string& file, const FirmwareImage& image) {
    return {
        {"file", file},
        {"file_sha256", Sha256Hex(image.GetFileBytes())},
        {"hardware_code", image.GetHardwareCode()},
        {"version", image.GetVersion()},
        {"start", image.GetStartAddress()},
        {"length", image.GetLength()},
        {"bootloader_baud", image.GetBaudRate()},
        {"tool_version", QUORVALE_VERSION},
    };
}

const char* FailureKindName(FailureKind kind) {
    return FailureKindNames[static_cast<std::size_t>(kind)];
}

const char* OutcomeName(const DownloadOutcome& result) {
    if (result.Completed()) {
        return "completed";
    }
    return result.kind == FailureKind::Cancelled ? "cancelled" : "failed";
}

}  // namespace quorvale
