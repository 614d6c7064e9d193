// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace quorvale {

// This machine's name, as records give it; empty if the system won't say.
std::string HostName();

}  // namespace quorvale
