// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace quorvale {

// Fields keep the order they were written in, which makes the lines easy to read.
using Json = nlohmann::ordered_json;

// One line of JSON. Text that is not valid UTF-8 (a port or file name in another encoding)
// is written with replacement characters rather than refused.
std::string JsonLine(const Json& object);

}  // namespace quorvale
