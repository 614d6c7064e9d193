// SPDX-License-Identifier: Apache-2.0
#include "ui/station_app.h"

#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "download/texts.h"
#include "settings/line_options.h"
#include "settings/remembered_line.h"
#include "ui/qsettings_store.h"

namespace quorvale {
namespace {

// The station's own settings; the line's are remembered as the dialog remembers them.
constexpr char kSlots[] = "slots";
constexpr char kRecord[] = "record";

// A station remembered before the line settings took the dialog's names keeps its settings.
void MoveOldLineNames(QSettings& settings) {
    const std::pair<const char*, const char*> renamed[] = {
        {"baud", kStoredBaud.name},
        {"data-bits", kStoredDataBits.name},
        {"parity", kStoredParity.name},
        {"stop-bits", kStoredStopBits.name},
    };
    for (const auto& [old, name] : renamed) {
        const QString key = QString(kLineSection) + "/" + name;
        if (settings.contains(old) && !settings.contains(key)) {
            settings.setValue(key, settings.value(old));
        }
        settings.remove(old);
    }
}

StationEnd Refuse(const std::string& error) {
    std::fprintf(stderr, "quorvale-station: %s\n", error.c_str());
    return {2, error};
}

std::string Absolute(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
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
void Recall(const CLI::App& app, QSettings& settings, StationOptions& options) {
    if (!app.count("--slot")) {
        for (const QString& slot : settings.value(kSlots).toStringList()) {
            options.slotPaths.push_back(slot.toStdString());
        }
    }
    MoveOldLineNames(settings);
    QSettingsStore store(settings);
    const RememberedLine line = RecallLine(store);
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
        const QString record = settings.value(kRecord).toString();
        if (!record.isEmpty()) {
            options.recordFile = record.toStdString();
        }
    }
}

}  // namespace

void RememberStation(const StationOptions& options, QSettings& settings) {
    QStringList slotPaths;
    for (const std::string& slot : options.slotPaths) {
        slotPaths.push_back(QString::fromStdString(slot));
    }
    settings.setValue(kSlots, slotPaths);
    QSettingsStore store(settings);
    RememberLine(store, options.line);
    settings.setValue(kRecord, QString::fromStdString(options.recordFile.value_or("")));
    settings.sync();
}

QSettings StationSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Quorvale", "Station");
}

std::variant<StationOptions, StationEnd> ParseStationArguments(int argc, const char* const* argv,
                                                               QSettings& settings) {
    CLI::App app("Flash every controller plugged into any of several slots", "quorvale-station");
    app.set_version_flag("--version", std::string("quorvale-station ") + QUORVALE_VERSION);
    StationOptions options;
    app.add_option("FILE", options.file, "Firmware file")->required();
    app.add_option("--slot", options.slotPaths,
                   "A port path that comes and goes as controllers are plugged in, such as a "
                   "/dev/serial/by-path link; repeat it for each slot (default: the last "
                   "station's)");
    app.add_option("--record", options.recordFile,
                   "Append a JSON line for each download that ends to this file (default: the "
                   "last station's; '' for none)");
    AddLineOptions(app, options.line, "");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int exitCode = app.exit(e);
        return StationEnd{exitCode == 0 ? 0 : 2, exitCode == 0 ? "" : e.what()};
    }
    Recall(app, settings, options);
    if (options.slotPaths.empty()) {
        return Refuse("no slot given and none remembered: give --slot PATH for each slot");
    }
    for (std::string& slot : options.slotPaths) {
        slot = Absolute(slot);
    }
    if (const auto twice = SlotGivenTwice(options.slotPaths)) {
        return Refuse("slot '" + *twice + "' is given twice");
    }
    if (options.recordFile && options.recordFile->empty()) {
        options.recordFile.reset();
    } else if (options.recordFile) {
        options.recordFile = Absolute(*options.recordFile);
    }
    return options;
}

}  // namespace quorvale
