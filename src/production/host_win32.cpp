// SPDX-License-Identifier: Apache-2.0
#include <windows.h>

#include "production/host.h"

namespace quorvale {

std::string HostName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size)) {
        return {};
    }
    return std::string(name, size);
}

}  // namespace quorvale
