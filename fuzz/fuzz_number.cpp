// SPDX-License-Identifier: Apache-2.0
// Command-line numbers in: whatever is accepted lies within its bound and reads back the same
// when written out again.
#include <cstdlib>
#include <string>

#include "settings/number.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::uint32_t bound = 65535;
    const auto value = quorvale::ParseNumber(text, bound);
    if (value &&
        (*value > bound || quorvale::ParseNumber(std::to_string(*value), bound) != value)) {
        std::abort();
    }
    const auto wide = quorvale::ParseNumber(text);
    if (value && wide != value) {
        std::abort();
    }
    return 0;
}
