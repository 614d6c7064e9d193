#pragma once

#include <string>
#include <vector>

#include "ports/serial_port.h"

namespace quorvale {

// Where running simulators announce their terminals: $XDG_RUNTIME_DIR/quorvale, or a private
// folder under /tmp when that is unset. Empty when no safe folder can be had.
std::string SimulatorAnnouncementFolder();

// Announces a simulated controller's terminal to port discovery for as long as it lives.
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

// Appends "Simulated controller (<terminal>)" for each running simulator.
void AppendSimulatedControllers(PortList& ports, const std::string& marker);

}  // namespace quorvale
