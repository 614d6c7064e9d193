// SPDX-License-Identifier: Apache-2.0
#include "ui/station_app.h"

#include <utility>

#include "dialog/dialog_view.h"
#include "settings/remembered_line.h"
#include "ui/qsettings_store.h"

namespace quorvale {
namespace {

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

}  // namespace

QSettings StationSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, kVendor, kStationApplication);
}

std::variant<StationOptions, StationEnd> ParseStationArguments(int argc, const char* const* argv,
                                                               QSettings& settings) {
    MoveOldLineNames(settings);
    QSettingsStore store(settings);
    return ParseStationArguments(argc, argv, static_cast<SettingsStore&>(store));
}

void RememberStation(const StationOptions& options, QSettings& settings) {
    QSettingsStore store(settings);
    RememberStation(options, static_cast<SettingsStore&>(store));
}

}  // namespace quorvale
