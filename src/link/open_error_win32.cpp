// SPDX-License-Identifier: Apache-2.0
// Why a port could not be opened, on Windows.
#include "link/port_handle.h"

namespace quorvale {

std::string ExplainOpenError(const std::string& port, const Error& error) {
    // A COM port is opened for one program at a time: denied is another one holding it.
    if (error.Kind() == ErrorKind::Busy || error.Kind() == ErrorKind::AccessDenied) {
        return "Access denied: another program is using " + port;
    }
    return error.Words();
}

}  // namespace quorvale
