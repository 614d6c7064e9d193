// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "files/error.h"
#include "link/port_handle.h"

namespace quorvale::cli {

// The protocol trace of a run: a line per write to a port and per burst read from it, and a
// line whenever a port's settings change, timed from the start of the command. Each line goes
// out whole, in one write, whichever port's thread writes it.
class TraceLog {
public:
    using Clock = std::chrono::steady_clock;

    ~TraceLog();
    TraceLog(const TraceLog&) = delete;
    TraceLog& operator=(const TraceLog&) = delete;

    // "-" is standard error.
    static Result<std::unique_ptr<TraceLog>> Open(const std::string& path, Clock::time_point start);

    void Settings(const std::string& port, const LineSettings& settings);
    void Bytes(const std::string& port, const char* direction, std::span<const std::uint8_t> bytes);

private:
    TraceLog(std::FILE* file, bool owned, Clock::time_point start)
        : m_file(file), m_owned(owned), m_start(start) {}
    // Writes "SECONDS PORT " and `rest`, the time taken under the lock so that lines from
    // several ports stay in time order.
    void Write(const std::string& port, const std::string& rest);

    std::FILE* const m_file;
    const bool m_owned;
    const Clock::time_point m_start;
    std::mutex m_mutex;
};

// One port's view of the trace, handed to the download as its line observer.
class PortTrace final : public LineObserver {
public:
    PortTrace(TraceLog& log, std::string port) : m_log(log), m_port(std::move(port)) {}

    void SettingsApplied(const LineSettings& settings) override {
        m_log.Settings(m_port, settings);
    }
    void Sent(std::span<const std::uint8_t> bytes) override { m_log.Bytes(m_port, "->", bytes); }
    void Received(std::span<const std::uint8_t> bytes) override {
        m_log.Bytes(m_port, "<-", bytes);
    }

private:
    TraceLog& m_log;
    const std::string m_port;
};

// "8N2": data bits, parity letter, stop bits, as a trace line shows the line's framing.
std::string FramingText(const LineSettings& settings);

}  // namespace quorvale::cli
