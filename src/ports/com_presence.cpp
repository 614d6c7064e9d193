// SPDX-License-Identifier: Apache-2.0
#include "ports/com_presence.h"

#include <algorithm>
#include <string_view>

namespace quorvale {
namespace {

constexpr std::string_view kDeviceNamespace = "\\\\.\\";

bool IsComName(std::string_view name) {
    return name.size() > 3 && (name[0] | 0x20) == 'c' && (name[1] | 0x20) == 'o' &&
           (name[2] | 0x20) == 'm' &&
           std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::optional<std::string> ComPortName(const std::string& name) {
    std::string_view view(name);
    if (view.starts_with(kDeviceNamespace)) {
        view.remove_prefix(kDeviceNamespace.size());
    }
    return IsComName(view) ? std::optional<std::string>(view) : std::nullopt;
}

bool ComPortPresent(const ComLook& look) {
    if (!look.named) {
        return false;
    }
    if (!look.openTried) {
        return true;
    }
    if (look.opened) {
        return look.characterDevice;
    }
    return look.openError == kAccessDeniedCode || look.openError == kSharingViolationCode;
}

bool LookOpensPort(bool notificationsAvailable) {
    return !notificationsAvailable;
}

}  // namespace quorvale
