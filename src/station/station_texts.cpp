// SPDX-License-Identifier: Apache-2.0
#include "station/station_texts.h"

#include <vector>

namespace quorvale::StationTexts {

std::string Fill(const char* text, std::initializer_list<std::string> values) {
    const std::vector<std::string> given(values);
    std::string filled;
    for (const char* c = text; *c; ++c) {
        const bool numbered = c[0] == '%' && c[1] >= '1' && c[1] <= '9';
        const auto index = numbered ? static_cast<std::size_t>(c[1] - '1') : given.size();
        if (index < given.size()) {
            filled += given[index];
            ++c;
        } else {
            filled += *c;
        }
    }
    return filled;
}

}  // namespace quorvale::StationTexts
