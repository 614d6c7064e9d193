// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Whether a Windows COM port is there, decided from what the system answered, so that every
// answer can be tried on any system.
namespace quorvale {

// The COM port a name means: "COM7" and "\\.\COM12" mean COM7 and COM12; anything else, such
// as a file's path, means none.
std::optional<std::string> ComPortName(const std::string& name);

// What one look at a COM port found.
struct ComLook {
    // The name is in the system's device-name table.
    bool named = false;
    // An exclusive open of it succeeded, and the handle was a character device; or it failed
    // with the system's error code.
    bool opened = false;
    bool characterDevice = false;
    std::uint32_t openError = 0;
};

// The Win32 codes an open of a port that is there, but held by another program, fails with.
inline constexpr std::uint32_t kAccessDeniedCode = 5;
inline constexpr std::uint32_t kSharingViolationCode = 32;

// A port is there when its name is in the table and it opens as a character device, or
// another program holds it. The table alone is not enough: wine names COM1 to COM9 whether
// or not anything is behind them, and opens those names as devices of no type.
bool ComPortPresent(const ComLook& look);

}  // namespace quorvale
