// SPDX-License-Identifier: Apache-2.0
#include "production/json_line.h"

namespace quorvale {

std::string JsonLine(const Json& object) {
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace quorvale
