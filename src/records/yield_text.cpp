// SPDX-License-Identifier: Apache-2.0
#include <algorithm>
#include <cstdio>

#include "records/yield_report.h"

namespace quorvale {
namespace {

constexpr char kDigits[] = "0123456789";
// Every form a time may be given in is a beginning of this one.
constexpr std::string_view kTimeShape = "9999-99-99T99:99:99.999";
constexpr std::string_view kTimeFill = "0000-00-00T00:00:00.000";
constexpr std::size_t kTimeLengths[] = {10, 16, 19, 23};

bool FitsShape(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool digit = std::string_view(kDigits).find(text[i]) != std::string_view::npos;
        if (kTimeShape[i] == '9' ? !digit : text[i] != kTimeShape[i]) {
            return false;
        }
    }
    return true;
}

using Cells = std::vector<std::string>;

// Columns padded to their widest cell; numbers (every column from `firstNumber`) to the right.
std::string Table(const std::vector<Cells>& rows, std::size_t firstNumber) {
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const Cells& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    std::string text;
    for (const Cells& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            const std::string pad(widths[i] - row[i].size(), ' ');
            line += (i ? "  " : "") + (i >= firstNumber ? pad + row[i] : row[i] + pad);
        }
        line.erase(line.find_last_not_of(' ') + 1);
        text += line + "\n";
    }
    return text;
}

Cells CountCells(const OutcomeCounts& counts) {
    return {std::to_string(counts.passed), std::to_string(counts.failed),
            std::to_string(counts.cancelled)};
}

Cells Joined(Cells head, const Cells& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

std::string RangeText(const TimeRange& range) {
    if (!range.since && !range.until) {
        return {};
    }
    return "From " + range.since.value_or("the first record") + " until " +
           range.until.value_or("the last") + "\n";
}

Json CountFields(const OutcomeCounts& counts) {
    return {{"passed", counts.passed}, {"failed", counts.failed}, {"cancelled", counts.cancelled}};
}

Json Optional(const std::optional<std::string>& value) {
    return value ? Json(*value) : Json(nullptr);
}

Json Optional(const std::optional<double>& value) {
    return value ? Json(*value) : Json(nullptr);
}

}  // namespace

Result<std::string> RecordTime(const std::string& given) {
    std::string text = given;
    if (text.ends_with('Z') || text.ends_with('z')) {
        text.pop_back();
    }
    if (text.size() > 10 && text[10] == ' ') {
        text[10] = 'T';
    }
    const bool known = std::find(std::begin(kTimeLengths), std::end(kTimeLengths), text.size()) !=
                       std::end(kTimeLengths);
    if (!known || !FitsShape(text)) {
        return Refused(
            Error(ErrorKind::Malformed, 0,
                  "Not a time: '" + given + "' (UTC, as 2026-12-10 or 2026-12-10T09:14)"));
    }
    return text + std::string(kTimeFill.substr(text.size())) + "Z";
}

std::string YieldText(const YieldReport& report) {
    std::string text = RangeText(report.range);
    text += "Downloads: " + std::to_string(report.downloads) + "   passed " +
            std::to_string(report.outcomes.passed) + "   failed " +
            std::to_string(report.outcomes.failed) + "   cancelled " +
            std::to_string(report.outcomes.cancelled) + "\n";
    if (!report.byHardware.empty()) {
        std::vector<Cells> rows{{"Hardware code", "Version", "Passed", "Failed", "Cancelled"}};
        for (const auto& row : report.byHardware) {
            rows.push_back(Joined({std::to_string(row.hardwareCode), std::to_string(row.version)},
                                  CountCells(row.outcomes)));
        }
        text += '\n';
        text += Table(rows, 0);
    }
    if (!report.byPort.empty()) {
        std::vector<Cells> rows{{"Host", "Port", "Passed", "Failed", "Cancelled"}};
        for (const auto& row : report.byPort) {
            rows.push_back(Joined({row.host, row.port}, CountCells(row.outcomes)));
        }
        text += '\n';
        text += Table(rows, 2);
    }
    if (!report.failureKinds.empty()) {
        std::vector<Cells> rows{{"Failure kind", "Count"}};
        for (const auto& row : report.failureKinds) {
            rows.push_back({row.kind, std::to_string(row.count)});
        }
        text += '\n';
        text += Table(rows, 1);
    }
    text += "\nSeconds a completed download took: ";
    if (report.medianSeconds) {
        text += "median ";
        text += Seconds(*report.medianSeconds);
        text += ", 95th percentile ";
        text += Seconds(*report.p95Seconds);
        text += '\n';
    } else {
        text += "none completed\n";
    }
    return text;
}

Json YieldJson(const YieldReport& report) {
    Json object = {{"since", Optional(report.range.since)},
                   {"until", Optional(report.range.until)},
                   {"downloads", report.downloads}};
    object.update(CountFields(report.outcomes));
    Json& hardware = object["by_hardware"] = Json::array();
    for (const auto& row : report.byHardware) {
        Json entry = {{"hardware_code", row.hardwareCode}, {"version", row.version}};
        entry.update(CountFields(row.outcomes));
        hardware.push_back(entry);
    }
    Json& ports = object["by_port"] = Json::array();
    for (const auto& row : report.byPort) {
        Json entry = {{"host", row.host}, {"port", row.port}};
        entry.update(CountFields(row.outcomes));
        ports.push_back(entry);
    }
    Json& kinds = object["failure_kinds"] = Json::array();
    for (const auto& row : report.failureKinds) {
        kinds.push_back({{"kind", row.kind}, {"count", row.count}});
    }
    object["seconds"] = {{"completed", report.completed},
                         {"median", Optional(report.medianSeconds)},
                         {"p95", Optional(report.p95Seconds)}};
    return object;
}

}  // namespace quorvale
