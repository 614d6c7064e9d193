// SPDX-License-Identifier: Apache-2.0
// Why a port could not be opened, on Windows.
#include <cerrno>
#include <system_error>

#include "link/port_handle.h"

namespace quorvale {

std::string ExplainOpenError(const std::string& port, int error) {
    if (error == EBUSY) {
        return "Access denied: another program is using " + port;
    }
    return std::generic_category().message(error);
}

}  // namespace quorvale
