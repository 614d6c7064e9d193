// SPDX-License-Identifier: Apache-2.0
#include "postgres_server.h"

#include <pwd.h>
#include <unistd.h>

#include <filesystem>

#include "support/process.h"

namespace quorvale::test {
namespace {

constexpr char kPackageBin[] = "/usr/lib/postgresql";
constexpr char kRunAs[] = "/usr/sbin/runuser";
constexpr char kOwner[] = "postgres";

// The newest server the package installed.
std::string ServerBin() {
    std::string newest;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(kPackageBin, error)) {
        const std::string bin = entry.path().string() + "/bin";
        if (std::filesystem::exists(bin + "/initdb") && bin > newest) {
            newest = bin;
        }
    }
    return newest;
}

}  // namespace

PostgresServer::PostgresServer() : m_bin(ServerBin()) {
    if (m_bin.empty()) {
        m_problem = "no PostgreSQL server under /usr/lib/postgresql (Debian's postgresql)";
        return;
    }
    if (::geteuid() == 0) {
        const passwd* owner = ::getpwnam(kOwner);
        if (!owner || ::chown(m_dir.path().c_str(), owner->pw_uid, owner->pw_gid) != 0) {
            m_problem = "no postgres user to run the server as";
            return;
        }
    }
    const ProcessResult made = Run(AsOwner({m_bin + "/initdb", "-D", m_dir.File("data"), "-U",
                                            kOwner, "--auth=trust", "-E", "UTF8", "--no-sync"}),
                                   std::chrono::seconds(60));
    if (made.exitCode != 0) {
        m_problem = "initdb failed: " + made.err;
        return;
    }
    if (!Start()) {
        m_problem = "the server did not start: see " + m_dir.File("log");
    }
}

PostgresServer::~PostgresServer() {
    Stop();
}

bool PostgresServer::Start() {
    // No TCP port, the socket in the private folder; no fsync, the data is thrown away.
    m_running = Control({"-l", m_dir.File("log"), "-o",
                         "-k " + m_dir.path() + " -c listen_addresses= -F", "start"});
    return m_running;
}

bool PostgresServer::Stop() {
    if (!m_running) {
        return true;
    }
    m_running = !Control({"-m", "fast", "stop"});
    return !m_running;
}

std::string PostgresServer::Uri() const {
    return "postgresql:///postgres?host=" + m_dir.path() + "&user=" + kOwner;
}

std::vector<std::string> PostgresServer::AsOwner(std::vector<std::string> args) const {
    if (::geteuid() == 0) {
        args.insert(args.begin(), {kRunAs, "-u", kOwner, "--"});
    }
    return args;
}

bool PostgresServer::Control(const std::vector<std::string>& args) {
    std::vector<std::string> command = {m_bin + "/pg_ctl", "-D", m_dir.File("data"), "-w"};
    command.insert(command.end(), args.begin(), args.end());
    return Run(AsOwner(command), std::chrono::seconds(60)).exitCode == 0;
}

}  // namespace quorvale::test
