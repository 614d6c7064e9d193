// SPDX-License-Identifier: Apache-2.0
#include "ports/port_identity.h"

namespace quorvale {

// Windows keeps a COM name with its device already; nothing here goes beyond the name.
PortIdentity IdentifyPort(const std::string&) {
    return {};
}

std::optional<std::string> LinkLeadingTo(const std::string&, const std::string&) {
    return std::nullopt;
}

}  // namespace quorvale
