// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

namespace quorvale {

// Announces a simulated controller's terminal to port discovery for as long as it lives, in
// $XDG_RUNTIME_DIR/quorvale, or in a private folder under /tmp when the runtime folder is
// missing or not the user's.
class SimulatorAnnouncement {
public:
    explicit SimulatorAnnouncement(const std::string& terminalPath);
    ~SimulatorAnnouncement();
    SimulatorAnnouncement(const SimulatorAnnouncement&) = delete;
    SimulatorAnnouncement& operator=(const SimulatorAnnouncement&) = delete;

private:
    std::string m_file;
};

// The terminals of the simulators that still run, in a stable order. Announcements left by
// processes that have gone are removed.
std::vector<std::string> AnnouncedSimulators();

}  // namespace quorvale
