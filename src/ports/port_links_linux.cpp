// SPDX-License-Identifier: Apache-2.0
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "ports/port_identity.h"

namespace quorvale {
namespace {

// std::filesystem::equivalent refuses two character devices ("Operation not supported"),
// which every serial port is. A device is told by its number, whichever node stands for it.
bool SameFile(const struct stat& a, const struct stat& b) {
    const bool aDevice = S_ISCHR(a.st_mode) || S_ISBLK(a.st_mode);
    const bool bDevice = S_ISCHR(b.st_mode) || S_ISBLK(b.st_mode);
    if (aDevice || bDevice) {
        return aDevice && bDevice && (a.st_mode & S_IFMT) == (b.st_mode & S_IFMT) &&
               a.st_rdev == b.st_rdev;
    }
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

std::optional<std::string> LinkLeadingTo(const std::string& folder, const std::string& target) {
    struct stat wanted {};
    if (::stat(target.c_str(), &wanted) != 0) {
        return std::nullopt;
    }
    std::error_code error;
    std::vector<std::filesystem::path> links;
    // Stepped without exceptions: udev may remove the folder while it is read.
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        links.push_back(entry->path());
    }
    std::sort(links.begin(), links.end());
    for (const auto& link : links) {
        struct stat found {};
        if (::stat(link.c_str(), &found) == 0 && SameFile(found, wanted)) {
            return link.string();
        }
    }
    return std::nullopt;
}

}  // namespace quorvale
