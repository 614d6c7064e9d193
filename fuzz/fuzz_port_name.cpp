// SPDX-License-Identifier: Apache-2.0
// A friendly name (and a marker, after a zero byte) in: the port name is always a piece of
// the friendly name that stops before its last character.
#include <cstdlib>
#include <string>

#include "ports/setupapi_discovery.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    const std::string name = input.substr(0, split);
    const std::string marker = split == std::string::npos ? "(COM" : input.substr(split + 1);
    const std::string port = quorvale::PortNameFromFriendlyName(name, marker);
    if (!port.empty() && (port.size() >= name.size() || name.find(port) == std::string::npos)) {
        std::abort();
    }
    return 0;
}
