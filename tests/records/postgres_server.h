// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace quorvale::test {

// A PostgreSQL server of the test's own, from Debian's package: a cluster made by initdb in a
// private folder, listening on a Unix socket there and on no TCP port, stopped and removed
// at the end. As root (CI), the server runs as the package's postgres user, which initdb
// requires.
class PostgresServer {
public:
    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // Empty when the cluster is ready; else why not.
    const std::string& Problem() const { return m_problem; }
    bool Start();
    bool Stop();
    // libpq's URI for the server's own database.
    std::string Uri() const;

private:
    std::vector<std::string> AsOwner(std::vector<std::string> args) const;
    bool Control(const std::vector<std::string>& args);

    TempDir m_dir;
    std::string m_bin;
    std::string m_problem;
    bool m_running = false;
};

}  // namespace quorvale::test
