// SPDX-License-Identifier: Apache-2.0
#include <system_error>

#include "files/system_error.h"

namespace quorvale {

// strerror's buffer is shared by every thread, and the ports of a gang download fail side by
// side; the category's message is made for the caller alone.
std::string SystemErrorText(long code) {
    return std::generic_category().message(static_cast<int>(code));
}

}  // namespace quorvale
