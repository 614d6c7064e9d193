// SPDX-License-Identifier: Apache-2.0
// Why a port could not be opened, in the words of a POSIX system.
#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <system_error>

#include "link/port_handle.h"

namespace quorvale {
namespace {

std::string GroupName(gid_t group) {
    struct group entry {};
    struct group* found = nullptr;
    char buffer[4096];
    if (::getgrgid_r(group, &entry, buffer, sizeof buffer, &found) == 0 && found) {
        return found->gr_name;
    }
    return std::to_string(group);
}

}  // namespace

std::string ExplainOpenError(const std::string& port, const Error& error) {
    std::string text = error.Words();
    struct stat info {};
    if (error.Kind() == ErrorKind::AccessDenied && ::stat(port.c_str(), &info) == 0) {
        text += ": the user needs to be in the group '" + GroupName(info.st_gid) +
                "', which owns " + port + " (log in again after joining it)";
    } else if (error.Kind() == ErrorKind::Busy) {
        text += ": another program is using the port";
    } else if (error.Kind() == ErrorKind::NotATerminal) {
        text += ": " + port + " is not a serial port";
    }
    return text;
}

}  // namespace quorvale
