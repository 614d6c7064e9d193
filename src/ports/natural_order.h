// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string_view>

namespace quorvale {

// Orders names with their digit runs taken as numbers: ttyS2 before ttyS10.
bool NaturalLess(std::string_view a, std::string_view b);

}  // namespace quorvale
