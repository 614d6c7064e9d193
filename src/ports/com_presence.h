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
    // Whether the port was opened to look at it: only where the table can't be believed.
    bool openTried = false;
    // An exclusive open of it succeeded, and the handle was a character device; or it failed
    // with the system's error code.
    bool opened = false;
    bool characterDevice = false;
    std::uint32_t openError = 0;
};

// The Win32 codes an open of a port that is there, but held by another program, fails with.
inline constexpr std::uint32_t kAccessDeniedCode = 5;
inline constexpr std::uint32_t kSharingViolationCode = 32;

// A port is there when its name is in the table, and, where it was opened to look, it opened
// as a character device or another program holds it. On Windows the table is the truth: a
// driver takes its name out as its device goes. Wine names COM1 to COM9 whether or not
// anything is behind them, and opens those names as devices of no type, so there (where the
// configuration manager's notifications are missing too) a look opens the port.
bool ComPortPresent(const ComLook& look);

// Whether a look opens the port: only where the system lacks the configuration manager's
// notifications (wine). On Windows an open raises a USB adapter's DTR and RTS, which resets
// some boards, and would take the port from another program for a moment, once a second.
bool LookOpensPort(bool notificationsAvailable);

}  // namespace quorvale
