// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace quorvale {

// The system's own words for one of its error codes: an errno value on POSIX, a Win32 code
// on Windows, each read by its own system.
std::string SystemErrorText(long code);

}  // namespace quorvale
