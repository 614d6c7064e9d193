#include <unistd.h>

#include "cli/commands.h"

namespace quorvale::cli {

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

}  // namespace quorvale::cli
