// SPDX-License-Identifier: Apache-2.0
#include <cerrno>
#include <system_error>

#include "files/error.h"
#include "files/system_error.h"

namespace quorvale {

// strerror's buffer is shared by every thread, and the ports of a gang download fail side by
// side; the category's message is made for the caller alone.
std::string SystemErrorText(long code) {
    return std::generic_category().message(static_cast<int>(code));
}

ErrorKind KindOfSystemCode(long code) {
    switch (code) {
        case ENOENT:
            return ErrorKind::NotFound;
        case EACCES:
        case EPERM:
            return ErrorKind::AccessDenied;
        case EBUSY:
            return ErrorKind::Busy;
        case EIO:
        case ENODEV:
        case ENXIO:
            return ErrorKind::Gone;
        case ENOTTY:
            return ErrorKind::NotATerminal;
        case EEXIST:
            return ErrorKind::AlreadyExists;
        default:
            return ErrorKind::Other;
    }
}

}  // namespace quorvale
