// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>

#include "link/port_handle.h"
#include "settings/settings_store.h"

// The application's line settings as a program remembers them for the next start: one scheme
// of names, the dialog's, in every program's own store.
namespace quorvale {

struct StoredSetting {
    const char* name;
    const char* fallback;
};

// Section "SerialPort": the port's name and the four settings, each the text of its list item
// (the baud rate as its number).
inline constexpr char kLineSection[] = "SerialPort";
inline constexpr StoredSetting kStoredPortName{"Name", ""};
inline constexpr StoredSetting kStoredBaud{"Baud", "9600"};
inline constexpr StoredSetting kStoredDataBits{"DataBits", "8"};
inline constexpr StoredSetting kStoredParity{"parity", "None"};
inline constexpr StoredSetting kStoredStopBits{"StopBits", "1"};

// What a store holds of the line; a value absent, or not one that a list or the options would
// take, is nothing.
struct RememberedLine {
    std::optional<std::uint32_t> baudRate;
    std::optional<std::uint8_t> dataBits;
    std::optional<Parity> parity;
    std::optional<StopBits> stopBits;
};

RememberedLine RecallLine(SettingsStore& store);
void RememberLine(SettingsStore& store, const LineSettings& line);

}  // namespace quorvale
