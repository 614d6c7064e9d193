#include <cstring>

#include "files/system_error.h"

namespace quorvale {

std::string SystemErrorText(long code) {
    return std::strerror(static_cast<int>(code));
}

}  // namespace quorvale
