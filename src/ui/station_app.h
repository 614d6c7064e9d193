#pragma once

#include <QSettings>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "link/serial_port.h"

namespace quorvale {

// What a station runs with: the firmware file, the slots, the application's line settings and
// where each download is recorded.
struct StationOptions {
    std::string file;
    std::vector<std::string> slotPaths;
    LineSettings line;
    std::optional<std::string> recordFile;
};

// The per-user store of the last station: organisation "Quorvale", application "Station".
QSettings StationSettings();

// Reads the command line. What it leaves out (every slot, a line setting, the record file) is
// taken from `settings`, and what it ends with is written back, so that the next start without
// --slot offers the same station. Answers the exit code instead when the arguments end the
// program: help, version, a mistake, or no slot at all.
std::variant<StationOptions, int> ParseStationArguments(int argc, const char* const* argv,
                                                        QSettings& settings);

}  // namespace quorvale
