// SPDX-License-Identifier: Apache-2.0
#include <cstdlib>

#include "jobs/keys.h"

namespace quorvale {

// Made by an administrator under %ProgramData%: other users may read it but not change it.
std::string DefaultTrustFolder() {
    const char* data = std::getenv("ProgramData");
    return std::string(data && *data ? data : "C:\\ProgramData") + "\\Quorvale\\trusted-keys";
}

}  // namespace quorvale
