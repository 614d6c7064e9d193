#include "ports/simulated_ports.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "support/temp_dir.h"

namespace quorvale {
namespace {

bool Listed(const std::string& terminal) {
    const std::vector<std::string> terminals = AnnouncedSimulators();
    return std::find(terminals.begin(), terminals.end(), terminal) != terminals.end();
}

TEST(SimulatedPorts, AMissingRuntimeFolderIsNeverCreatedAndTheFallbackServes) {
    test::TempDir dir;
    const std::string runtime = dir.File("runtime");
    ASSERT_EQ(::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1), 0);
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
