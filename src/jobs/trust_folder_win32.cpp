// SPDX-License-Identifier: Apache-2.0
#include <windows.h>
// After windows.h, which they need.
#include <knownfolders.h>
#include <shlobj.h>

#include <string>

#include "jobs/keys.h"

namespace quorvale {

// The system's own ProgramData, asked of the shell rather than the environment, which a user
// sets as they like. The installer's notes give the rights the folder needs (administrators
// alone may write it).
std::string DefaultTrustFolder() {
    PWSTR wide = nullptr;
    std::string folder = "C:\\ProgramData";
    if (SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &wide) == S_OK) {
        const int size = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
        if (size > 1) {
            folder.assign(static_cast<std::size_t>(size), '\0');
            WideCharToMultiByte(CP_ACP, 0, wide, -1, folder.data(), size, nullptr, nullptr);
            folder.resize(static_cast<std::size_t>(size - 1));
        }
    }
    CoTaskMemFree(wide);
    return folder + "\\Quorvale\\trusted-keys";
}

}  // namespace quorvale
