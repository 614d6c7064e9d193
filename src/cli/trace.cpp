// SPDX-License-Identifier: Apache-2.0
#include "cli/trace.h"

#include <cerrno>

#include "files/regular_file.h"

namespace quorvale::cli {

std::string FramingText(const LineSettings& settings) {
    static constexpr char kParityLetters[] = "NOEMS";
    static constexpr const char* kStopBits[] = {"1", "1.5", "2"};
    const auto parity = static_cast<std::size_t>(settings.parity);
    const auto stop = static_cast<std::size_t>(settings.stopBits);
    std::string text = std::to_string(settings.dataBits);
    text += parity < 5 ? kParityLetters[parity] : '?';
    text += stop < 3 ? kStopBits[stop] : "?";
    return text;
}

TraceLog::~TraceLog() {
    if (m_owned) {
        std::fclose(m_file);
    } else {
        std::fflush(m_file);
    }
}

Result<std::unique_ptr<TraceLog>> TraceLog::Open(const std::string& path, Clock::time_point start) {
    if (path == "-") {
        return std::unique_ptr<TraceLog>(new TraceLog(stderr, false, start));
    }
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file) {
        return Refused(Error::FromSystem(errno, "cannot open '" + path + "' for the trace"));
    }
    return std::unique_ptr<TraceLog>(new TraceLog(file, true, start));
}

void TraceLog::Settings(const std::string& port, const LineSettings& settings) {
    Write(port, std::to_string(settings.baudRate) + " " + FramingText(settings) + "\n");
}

void TraceLog::Bytes(const std::string& port, const char* direction,
                     std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string rest = direction;
    rest.reserve(rest.size() + bytes.size() * 3 + 1);
    for (const std::uint8_t byte : bytes) {
        rest += ' ';
        rest += kDigits[byte >> 4];
        rest += kDigits[byte & 0x0F];
    }
    rest += '\n';
    Write(port, rest);
}

void TraceLog::Write(const std::string& port, const std::string& rest) {
    const std::lock_guard lock(m_mutex);
    const std::chrono::duration<double> since = Clock::now() - m_start;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.6f ", since.count());
    const std::string line = seconds + port + " " + rest;
    std::fwrite(line.data(), 1, line.size(), m_file);
    std::fflush(m_file);
}

}  // namespace quorvale::cli
