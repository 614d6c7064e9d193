// SPDX-License-Identifier: Apache-2.0
#include "ports/simulated_ports.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "support/temp_dir.h"

namespace quorvale {
namespace {

bool Listed(const std::string& terminal) {
    const std::vector<std::string> terminals = AnnouncedSimulators();
    return std::find(terminals.begin(), terminals.end(), terminal) != terminals.end();
}

// Points XDG_RUNTIME_DIR elsewhere for as long as it lives.
class RuntimeFolder {
public:
    explicit RuntimeFolder(const std::string& path) {
        if (const char* before = std::getenv("XDG_RUNTIME_DIR")) {
            m_before = before;
        }
        ::setenv("XDG_RUNTIME_DIR", path.c_str(), 1);
    }
    ~RuntimeFolder() {
        if (m_before) {
            ::setenv("XDG_RUNTIME_DIR", m_before->c_str(), 1);
        } else {
            ::unsetenv("XDG_RUNTIME_DIR");
        }
    }
    RuntimeFolder(const RuntimeFolder&) = delete;
    RuntimeFolder& operator=(const RuntimeFolder&) = delete;

private:
    std::optional<std::string> m_before;
};

TEST(SimulatedPorts, AMissingRuntimeFolderIsNeverCreatedAndTheFallbackServes) {
    // The fallback is the user's own folder under /tmp, the one a simulator started without a
    // runtime folder uses; the announcement is there for the test's moment only.
    test::TempDir dir;
    const std::string runtime = dir.File("runtime");
    const RuntimeFolder missing(runtime);
    const std::string terminal = "/dev/pts/announced-by-" + std::to_string(::getpid());

    EXPECT_FALSE(Listed(terminal));
    {
        const SimulatorAnnouncement announcement(terminal);
        EXPECT_TRUE(Listed(terminal));
    }
    EXPECT_FALSE(Listed(terminal));
    EXPECT_FALSE(std::filesystem::exists(runtime)) << "the session's runtime folder was created";
}

}  // namespace
}  // namespace quorvale
