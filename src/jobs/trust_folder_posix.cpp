// SPDX-License-Identifier: Apache-2.0
#include "jobs/keys.h"

namespace quorvale {

std::string DefaultTrustFolder() {
    return "/etc/quorvale/trusted-keys";
}

}  // namespace quorvale
