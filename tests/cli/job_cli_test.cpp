// SPDX-License-Identifier: Apache-2.0
// Keys and signed jobs from the command line, as engineering makes them and a line uses them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "cli/command_line.h"

namespace quorvale {
namespace {

using test::Args;
using test::RunQuorvale;

class JobCommandLineTest : public test::CommandLineTest {
protected:
    void SetUp() override {
        m_firmware = Firmware(test::Sample(2048));
        ASSERT_EQ(RunQuorvale({"key", "new", Key(), "--comment", "engineering"}).exitCode, 0);
        const auto made = RunQuorvale({"job", "make", m_firmware, Job(), "--key", Key(), "--name",
                                       "Board 7", "--baud", "19200", "--parity", "even"});
        ASSERT_EQ(made.exitCode, 0) << made.err;
    }
    std::string Key() const { return m_dir.File("engineering.key"); }
    std::string Job() const { return m_dir.File("board.job"); }

    std::string m_firmware;
};

TEST_F(JobCommandLineTest, KeyIsNeverOverwritten) {
    const auto again = RunQuorvale({"key", "new", Key()});
    EXPECT_EQ(again.exitCode, 2);
    EXPECT_NE(again.err.find("cannot create '" + Key() + "'"), std::string::npos) << again.err;
}

TEST_F(JobCommandLineTest, JobIsFlashedAtItsOwnLineSettingsAndRecorded) {
    test::SimulateProcess controller(
        {"--hardware", "7", "--app-baud", "19200", "--app-parity", "Even"});
    const std::string record = m_dir.File("line.jsonl");
    const auto run = RunQuorvale({"download", "--job", Job(), "--trust", Key() + ".pub", "--port",
                                  controller.Port(), "--record", record});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto line = nlohmann::json::parse(test::ReadBytes(record));
    EXPECT_EQ(line["job_name"], "Board 7");
    EXPECT_EQ(line["job_sha256"].get<std::string>().size(), 64u);
    EXPECT_EQ(line["signed_by"].get<std::string>().size(), 16u);
    EXPECT_EQ(line["file"], "fw.qvx");
    EXPECT_EQ(line["outcome"], "completed");

    const auto shown = RunQuorvale({"job", "show", Job(), "--trust", Key() + ".pub"});
    EXPECT_EQ(shown.exitCode, 0);
    EXPECT_NE(shown.out.find("Line: 19200 baud, 8 data bits, parity Even, 1 stop bits"),
              std::string::npos)
        << shown.out;
    EXPECT_NE(shown.out.find("Signature: verified"), std::string::npos) << shown.out;
}

// Each refusal comes before any port is opened: the port named does not exist, and opening it
// would have said so with exit code 1.
TEST_F(JobCommandLineTest, RefusedBeforeAnyPortIsOpened) {
    ASSERT_EQ(RunQuorvale({"key", "new", m_dir.File("other.key")}).exitCode, 0);
    const std::string locked = m_dir.File("locked");
    ::mkdir(locked.c_str(), 0755);
    m_dir.Write("locked/engineering.pub", test::ReadBytes(Key() + ".pub"));
    const std::string port = m_dir.File("no-such-port");
    const struct {
        const char* name;
        Args args;
        std::string lockFolder;
        std::string says;
    } cases[] = {
        {"untrusted key",
         {"--job", Job(), "--trust", m_dir.File("other.key.pub")},
         "",
         "refused by its key check"},
        {"no trust at all", {"--job", Job()}, "", "refused by its key check: no key is trusted"},
        {"line options beside a job",
         {"--job", Job(), "--trust", Key() + ".pub", "--baud", "9600"},
         "",
         "line options can't be given beside a job"},
        {"a firmware file at a locked station", {m_firmware}, locked, "the station is locked"},
        {"--trust at a locked station",
         {"--job", Job(), "--trust", Key() + ".pub"},
         locked,
         "the station is locked"},
        {"a job file that is a firmware file",
         {"--job", m_firmware, "--trust", Key() + ".pub"},
         "",
         "refused by its document check"},
    };
    for (const auto& c : cases) {
        Args args = {"/usr/bin/env", "QUORVALE_TEST_TRUSTED_KEYS=" + c.lockFolder, QUORVALE_EXE,
                     "download"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.insert(args.end(), {"--port", port});
        const auto run = test::Run(args);
        EXPECT_EQ(run.exitCode, 2) << c.name << ": " << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << c.name << ": " << run.err;
    }
}

}  // namespace
}  // namespace quorvale
