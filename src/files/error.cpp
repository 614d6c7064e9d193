// SPDX-License-Identifier: Apache-2.0
#include "files/error.h"

#include "files/system_error.h"

namespace quorvale {

Error Error::FromSystem(long code, const std::string& what) {
    const std::string words = SystemErrorText(code);
    return {KindOfSystemCode(code), code, what.empty() ? words : what + ": " + words};
}

}  // namespace quorvale
