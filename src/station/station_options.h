// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "link/port_handle.h"
#include "settings/settings_store.h"

namespace quorvale {

// What a station runs with: the firmware file, the slots, the application's line settings and
// where each download is recorded.
struct StationOptions {
    // The firmware file; empty when a signed job carries it and the line settings.
    std::string file;
    std::vector<std::string> slotPaths;
    LineSettings line;
    std::optional<std::string> recordFile;
    std::optional<std::string> job = std::nullopt;
    std::vector<std::string> trust = {};
    // Whether the command line itself gave a line setting, which a job refuses.
    bool lineOptionsGiven = false;
};

// Where the station's settings live, under the vendor's key: the slots and the record as
// values of the application's own key, the line as the dialog keeps it.
inline constexpr char kStationApplication[] = "Station";

// How the command line ended the program instead: help, version, a mistake, or no slot at all.
struct StationEnd {
    int exitCode = 0;
    // What went wrong, already said on standard error; empty for help and version.
    std::string error;
    // What --help or --version print, for a window that has no standard output to print on.
    std::string printed;
};

// Reads the command line. What it leaves out (every slot, a line setting, the record file) is
// taken from `settings`. Paths are made absolute, so that a station remembered in one folder
// means the same slots and record in the next; an empty --record keeps none.
std::variant<StationOptions, StationEnd> ParseStationArguments(int argc, const char* const* argv,
                                                               SettingsStore& settings);

// How a slot given on the command line is kept: a path made absolute, so that it means the
// same port from any folder, but a Windows device name (COM7, \\.\COM12) as it is.
std::string SlotPath(const std::string& given, bool windowsNames);
// Whether this system names its ports as Windows does.
bool SlotsAreWindowsNames();

// Writes what the station runs with back to `settings`, so that the next start without --slot
// offers the same station.
void RememberStation(const StationOptions& options, SettingsStore& settings);

}  // namespace quorvale
