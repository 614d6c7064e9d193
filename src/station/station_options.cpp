// SPDX-License-Identifier: Apache-2.0
#include "station/station_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "ports/com_presence.h"
#include "records/record_target.h"
#include "settings/line_options.h"
#include "settings/remembered_line.h"

namespace quorvale {
namespace {

// The station's own values, beside the line's section.
constexpr char kOwnKey[] = "";
constexpr char kSlots[] = "slots";
constexpr char kRecord[] = "record";

StationEnd Refuse(const std::string& error) {
    std::fprintf(stderr, "quorvale-station: %s\n", error.c_str());
    return {2, error, {}};
}

std::string Absolute(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

// A file's path made absolute, in a database's name too; a server's URI as it is.
std::string AbsoluteRecord(const std::string& where) {
    const RecordWhere parsed = ParseRecordWhere(where);
    switch (parsed.engine) {
        case RecordEngine::Sqlite:
            return "sqlite:" + Absolute(parsed.location);
        case RecordEngine::Postgresql:
            return where;
        case RecordEngine::JsonLines:
            break;
    }
    return Absolute(where);
}

// A slot given twice would have two loops take turns at one port.
std::optional<std::string> SlotGivenTwice(const std::vector<std::string>& slots) {
    for (std::size_t i = 0; i < slots.size(); ++i) {
        if (std::find(slots.begin() + i + 1, slots.end(), slots[i]) != slots.end()) {
            return slots[i];
        }
    }
    return std::nullopt;
}

// Fills in what the command line left out from what was remembered; a remembered value that
// is not one the options would take is passed over.
void Recall(const CLI::App& app, SettingsStore& settings, StationOptions& options) {
    if (!app.count("--slot")) {
        options.slotPaths = settings.ReadList(kOwnKey, kSlots);
    }
    const RememberedLine line = RecallLine(settings);
    if (!app.count("--baud") && line.baudRate) {
        options.line.baudRate = *line.baudRate;
    }
    if (!app.count("--data-bits") && line.dataBits) {
        options.line.dataBits = *line.dataBits;
    }
    if (!app.count("--parity") && line.parity) {
        options.line.parity = *line.parity;
    }
    if (!app.count("--stop-bits") && line.stopBits) {
        options.line.stopBits = *line.stopBits;
    }
    if (!app.count("--record")) {
        const std::string record = settings.Read(kOwnKey, kRecord, "");
        if (!record.empty()) {
            options.recordFile = record;
        }
    }
}

// Help and version as CLI11 prints them, kept for a window to show as well.
StationEnd Ended(const CLI::App& app, const CLI::ParseError& error) {
    std::ostringstream out;
    std::ostringstream err;
    const int exitCode = app.exit(error, out, err);
    std::fputs(out.str().c_str(), stdout);
    std::fputs(err.str().c_str(), stderr);
    if (exitCode == 0) {
        return {0, "", out.str()};
    }
    return {2, error.what(), {}};
}

}  // namespace

std::string SlotPath(const std::string& given, bool windowsNames) {
    return windowsNames && ComPortName(given) ? given : Absolute(given);
}

void RememberStation(const StationOptions& options, SettingsStore& settings) {
    settings.WriteList(kOwnKey, kSlots, options.slotPaths);
    RememberLine(settings, options.line);
    settings.Write(kOwnKey, kRecord, options.recordFile.value_or(""));
}

std::variant<StationOptions, StationEnd> ParseStationArguments(int argc, const char* const* argv,
                                                               SettingsStore& settings) {
    CLI::App app("Flash every controller plugged into any of several slots", "quorvale-station");
    app.set_version_flag("--version", std::string("quorvale-station ") + QUORVALE_VERSION);
    StationOptions options;
    app.add_option("FILE", options.file, "Firmware file (or give --job)");
    app.add_option("--job", options.job,
                   "A signed job: its firmware and line settings in place of FILE and the line "
                   "options");
    app.add_option("--trust", options.trust,
                   "A public key whose jobs are taken (repeat it for several)");
    app.add_option("--slot", options.slotPaths,
                   "A port that comes and goes as controllers are plugged in, such as a "
                   "/dev/serial/by-path link or COM7; repeat it for each slot (default: the "
                   "last station's)");
    app.add_option("--record", options.recordFile,
                   "Record each download that ends: a JSON Lines file, sqlite:PATH or a "
                   "postgresql:// URI (default: the last station's; '' for none)");
    AddLineOptions(app, options.line, "");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return Ended(app, e);
    }
    for (const char* option : {"--baud", "--data-bits", "--parity", "--stop-bits"}) {
        options.lineOptionsGiven = options.lineOptionsGiven || app.count(option) > 0;
    }
    Recall(app, settings, options);
    if (options.slotPaths.empty()) {
        return Refuse("no slot given and none remembered: give --slot PATH for each slot");
    }
    for (std::string& slot : options.slotPaths) {
        slot = SlotPath(slot, SlotsAreWindowsNames());
    }
    if (const auto twice = SlotGivenTwice(options.slotPaths)) {
        return Refuse("slot '" + *twice + "' is given twice");
    }
    if (options.recordFile && options.recordFile->empty()) {
        options.recordFile.reset();
    } else if (options.recordFile) {
        options.recordFile = AbsoluteRecord(*options.recordFile);
    }
    return options;
}

}  // namespace quorvale
