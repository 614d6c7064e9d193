// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QSettings>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "link/port_handle.h"

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

// How the command line ended the program instead: help, version, a mistake, or no slot at all.
struct StationEnd {
    int exitCode = 0;
    // What went wrong, already said on standard error; empty for help and version.
    std::string error;
};

// Reads the command line. What it leaves out (every slot, a line setting, the record file) is
// taken from `settings`. Paths are made absolute, so that a station remembered in one folder
// means the same slots and record in the next; an empty --record keeps none.
std::variant<StationOptions, StationEnd> ParseStationArguments(int argc, const char* const* argv,
                                                               QSettings& settings);

// Writes what the station runs with back to `settings`, so that the next start without --slot
// offers the same station.
void RememberStation(const StationOptions& options, QSettings& settings);

}  // namespace quorvale
