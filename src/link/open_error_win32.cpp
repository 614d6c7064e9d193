// SPDX-License-Identifier: Apache-2.0
// Why a port could not be opened, on Windows.
#include "link/port_handle.h"

namespace quorvale {

std::string ExplainOpenError(const std::string& port, const Error& error) {
    if (error.Kind() == ErrorKind::Busy) {
        return "Access denied: another program is using " + port;
    }
    return error.Words();
}

}  // namespace quorvale
