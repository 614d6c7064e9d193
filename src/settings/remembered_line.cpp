// SPDX-License-Identifier: Apache-2.0
#include "settings/remembered_line.h"

#include <string>

#include "download/texts.h"
#include "settings/line_options.h"
#include "settings/number.h"

namespace quorvale {
namespace {

std::string Stored(SettingsStore& store, const StoredSetting& setting) {
    return store.Read(kLineSection, setting.name, "");
}

}  // namespace

RememberedLine RecallLine(SettingsStore& store) {
    RememberedLine line;
    if (const auto baud = ParseNumber(Stored(store, kStoredBaud)); baud && *baud > 0) {
        line.baudRate = *baud;
    }
    line.dataBits = ItemCode(SettingLists::DataBits, Stored(store, kStoredDataBits));
    line.parity = ItemCode(SettingLists::Parities, Stored(store, kStoredParity));
    line.stopBits = ItemCode(SettingLists::StopBitsChoices, Stored(store, kStoredStopBits));
    return line;
}

void RememberLine(SettingsStore& store, const LineSettings& line) {
    store.Write(kLineSection, kStoredBaud.name, std::to_string(line.baudRate));
    store.Write(kLineSection, kStoredDataBits.name,
                ItemText(SettingLists::DataBits, line.dataBits));
    store.Write(kLineSection, kStoredParity.name, ItemText(SettingLists::Parities, line.parity));
    store.Write(kLineSection, kStoredStopBits.name,
                ItemText(SettingLists::StopBitsChoices, line.stopBits));
}

}  // namespace quorvale
