// Why a port could not be opened, on Windows.
#include <cerrno>
#include <cstring>

#include "production/records.h"

namespace quorvale {

std::string ExplainOpenFailure(const std::string& port, int error) {
    if (error == EBUSY) {
        return "Access denied: another program is using " + port;
    }
    return std::strerror(error);
}

}  // namespace quorvale
