// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QSettings>
#include <variant>

#include "station/station_options.h"

namespace quorvale {

// The per-user store of the last station: organisation "Quorvale", application "Station".
QSettings StationSettings();

// The station's command line and what it remembers, in the store of `settings`; a station
// remembered under the names of old has them moved first.
std::variant<StationOptions, StationEnd> ParseStationArguments(int argc, const char* const* argv,
                                                               QSettings& settings);
void RememberStation(const StationOptions& options, QSettings& settings);

}  // namespace quorvale
