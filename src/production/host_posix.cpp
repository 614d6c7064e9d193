// SPDX-License-Identifier: Apache-2.0
#include <unistd.h>

#include "production/host.h"

namespace quorvale {

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

}  // namespace quorvale
