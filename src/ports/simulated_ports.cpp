// SPDX-License-Identifier: Apache-2.0
#include "ports/simulated_ports.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "files/regular_file.h"
#include "ports/natural_order.h"
#include "ports/port_record.h"

namespace quorvale {
namespace {

namespace fs = std::filesystem;

constexpr char kPrefix[] = "simulator-";
constexpr char kFriendlyName[] = "Simulated controller (";

// A folder of our own, not a link and not someone else's (one under /tmp could have been
// planted).
bool IsOwnFolder(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid();
}

// The session's runtime folder belongs to the login manager: used when it is there and ours,
// never created. Otherwise a private folder under /tmp.
std::string AnnouncementFolder(bool create) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string folder = runtime && *runtime && IsOwnFolder(runtime)
                                   ? std::string(runtime) + "/quorvale"
                                   : "/tmp/quorvale-" + std::to_string(::getuid());
    if (create) {
        ::mkdir(folder.c_str(), 0700);
    }
    return IsOwnFolder(folder) ? folder : std::string();
}

bool ProcessRuns(pid_t pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

std::string TerminalName(const std::string& terminalPath) {
    std::string name = fs::path(terminalPath).relative_path().string();
    std::replace(name.begin(), name.end(), '/', '-');
    return name;
}

}  // namespace

SimulatorAnnouncement::SimulatorAnnouncement(const std::string& terminalPath) {
    const std::string folder = AnnouncementFolder(true);
    if (folder.empty()) {
        return;
    }
    // The process id tells a live announcement from a stale one; the terminal's name keeps two
    // simulators of one process apart.
    const std::string file =
        folder + "/" + kPrefix + std::to_string(::getpid()) + "-" + TerminalName(terminalPath);
    const std::string line = terminalPath + "\n";
    const auto bytes = reinterpret_cast<const std::uint8_t*>(line.data());
    if (WriteFileAtomically(file, {bytes, line.size()})) {
        m_file = file;
    }
}

SimulatorAnnouncement::~SimulatorAnnouncement() {
    if (!m_file.empty()) {
        ::unlink(m_file.c_str());
    }
}

std::vector<std::string> AnnouncedSimulators() {
    // Listing writes nothing: no announcement folder means no simulator.
    const std::string folder = AnnouncementFolder(false);
    std::vector<std::string> files;
    std::error_code error;
    if (folder.empty() || !fs::is_directory(folder, error)) {
        return {};
    }
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(kPrefix, 0) == 0 && entry.is_regular_file(error)) {
            files.push_back(name);
        }
    }
    std::sort(files.begin(), files.end(), NaturalLess);

    std::vector<std::string> terminals;
    for (const std::string& name : files) {
        const std::string file = folder + "/" + name;
        const pid_t pid = static_cast<pid_t>(std::atol(name.c_str() + sizeof kPrefix - 1));
        if (!ProcessRuns(pid)) {
            ::unlink(file.c_str());
            continue;
        }
        std::ifstream in(file);
        std::string terminal;
        if (std::getline(in, terminal) && !terminal.empty()) {
            terminals.push_back(terminal);
        }
    }
    return terminals;
}

void AppendSimulatedControllers(std::vector<PortRecord>& ports) {
    for (const std::string& terminal : AnnouncedSimulators()) {
        ports.push_back({terminal, kFriendlyName + terminal + ")", terminal, true, {}, true});
    }
}

}  // namespace quorvale
