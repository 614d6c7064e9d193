// SPDX-License-Identifier: Apache-2.0
// Simulated controllers run on Linux only; on Windows there are none to offer.
#include "ports/port_record.h"
#include "ports/simulated_ports.h"

namespace quorvale {

void AppendSimulatedControllers(std::vector<PortRecord>&) {}

std::vector<std::string> AnnouncedSimulators() {
    return {};
}

}  // namespace quorvale
