// SPDX-License-Identifier: Apache-2.0
// Records for a floor's PostgreSQL server, against a real server the test starts: through the
// spool, in order, once each, whether the server is there or not, and across a killed tool.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>

#include "cli/command_line.h"
#include "postgres_server.h"
#include "record_samples.h"
#include "records/database.h"
#include "records/postgres_database.h"
#include "records/record_target.h"
#include "records/spool.h"
#include "records/yield_report.h"
#include "support/timing.h"

namespace quorvale {
namespace {

using namespace std::chrono_literals;
using test::Args;
using test::ProcessResult;
using test::Quorvale;
using test::RunQuorvale;
using test::Sample;
using test::SimulateProcess;

// Longer than the sender's longest pause between tries, with room for a busy machine.
constexpr auto kArrival = 20s;

class PostgresRecords : public test::CommandLineTest {
protected:
    void SetUp() override {
        ASSERT_EQ(m_server.Problem(), "");
        // The spool goes to the test's own folder, for this process and the tools it starts.
        ::setenv("XDG_STATE_HOME", m_state.path().c_str(), 1);
    }

    std::vector<records::Row> OnServer(const std::string& sql) {
        auto db = records::PostgresDatabase::Connect(m_server.Uri());
        EXPECT_TRUE(db) << db.error().Words();
        auto rows = db ? (*db)->Query(sql) : Refused(db.error());
        EXPECT_TRUE(rows) << rows.error().Words();
        return rows ? *rows : std::vector<records::Row>{};
    }

    // The ports of the rows, in the order the server stored them (each insert is a
    // transaction of its own, so its transaction id says when).
    std::vector<std::string> StoredPorts() {
        std::vector<std::string> ports;
        for (const records::Row& row :
             OnServer("SELECT port FROM downloads ORDER BY xmin::text::bigint")) {
            ports.push_back(row[0]);
        }
        return ports;
    }

    std::size_t Spooled() {
        auto spool = records::Spool::Open();
        return spool ? (*spool)->Count() : 999;
    }

    Args Download(const std::string& port, Args extra = {}) {
        Args args = {"download", m_file, "--port", port, "--record", m_server.Uri()};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    test::PostgresServer m_server;
    test::TempDir m_state;
    const std::string m_file = Firmware(Sample(512));
};

TEST_F(PostgresRecords, GangRecordsArriveOnceEach) {
    SimulateProcess a({"--hardware", "7"});
    SimulateProcess b({"--hardware", "7"});
    SimulateProcess c({"--hardware", "9"});
    const ProcessResult run =
        RunQuorvale(Download(a.Port(), {"--port", b.Port(), "--port", c.Port()}));
    EXPECT_EQ(run.exitCode, 1) << run.err;

    // Sorted here: /dev/pts/11 comes before /dev/pts/2 as text.
    auto rows = OnServer("SELECT port, outcome FROM downloads");
    std::vector<records::Row> expected{
        {a.Port(), "completed"}, {b.Port(), "completed"}, {c.Port(), "failed"}};
    std::sort(rows.begin(), rows.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(Spooled(), 0u);
}

TEST_F(PostgresRecords, ServerDownDownloadsGoOnAndItsRecordsArriveOnceInOrderWhenItIsBack) {
    ASSERT_TRUE(m_server.Stop());
    std::vector<std::string> made;
    for (int i = 0; i < 2; ++i) {
        SimulateProcess controller({"--hardware", "7"});
        const ProcessResult run = RunQuorvale(Download(controller.Port()));
        EXPECT_EQ(run.exitCode, 0) << run.err;
        made.push_back(controller.Port());
    }
    EXPECT_EQ(Spooled(), 2u);

    // A station that stays up: it keeps spooling, and sends by itself once the server is back.
    auto target = OpenRecordTarget(m_server.Uri());
    ASSERT_TRUE(target);
    for (const Json& record : test::Morning()) {
        ASSERT_TRUE((*target)->Write(record));
        made.push_back(record["port"]);
    }
    EXPECT_EQ((*target)->Waiting(), made.size());
    ASSERT_TRUE(m_server.Start());
    EXPECT_TRUE(test::WaitUntil([&] { return (*target)->Waiting() == 0; }, kArrival));
    EXPECT_EQ(StoredPorts(), made);
}

TEST_F(PostgresRecords, ToolKilledBetweenSpoolingAndSendingTheNextStartSendsTheRest) {
    ASSERT_TRUE(m_server.Stop());
    SimulateProcess first({"--hardware", "7"});
    {
        test::Process station(Quorvale(Download(first.Port(), {"--repeat"})));
        ASSERT_TRUE(test::WaitUntil([&] { return Spooled() == 1; }, 10s));
        station.Signal(SIGKILL);
        station.Wait();
    }
    ASSERT_TRUE(m_server.Start());
    SimulateProcess second({"--hardware", "7"});
    EXPECT_EQ(RunQuorvale(Download(second.Port())).exitCode, 0);
    EXPECT_EQ(StoredPorts(), (std::vector<std::string>{first.Port(), second.Port()}));
    EXPECT_EQ(Spooled(), 0u);
}

// A server that takes a connection and then answers nothing (here: its table held locked by
// another session) neither holds up the tool's end nor loses the record; and a record the
// server already has (a crash between its commit and the spool's) is stored once.
TEST_F(PostgresRecords, ServerThatNeverAnswersDelaysNothingAndARecordSentTwiceIsStoredOnce) {
    auto holder = records::PostgresDatabase::Connect(m_server.Uri());
    ASSERT_TRUE(holder) << holder.error().Words();
    ASSERT_TRUE(records::PrepareSchema(**holder));
    ASSERT_TRUE((*holder)->Execute("BEGIN"));
    ASSERT_TRUE((*holder)->Execute("LOCK TABLE downloads IN ACCESS EXCLUSIVE MODE"));

    SimulateProcess controller({"--hardware", "7"});
    // Far under the server's wait, which is for ever.
    const ProcessResult run = test::Run(Quorvale(Download(controller.Port())), 10s);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("quorvale download: 1 record waits in the spool for "),
              std::string::npos)
        << run.err;
    holder->reset();

    auto spool = records::Spool::Open();
    ASSERT_TRUE(spool);
    const auto entry = (*spool)->Oldest(m_server.Uri());
    ASSERT_TRUE(entry && *entry);
    auto server = records::PostgresDatabase::Connect(m_server.Uri());
    ASSERT_TRUE(server);
    ASSERT_TRUE(records::InsertRecord(**server, (*entry)->id, (*entry)->record));
    const ProcessResult push = RunQuorvale({"records", "push"});
    EXPECT_EQ(push.out, "Sent 1, 0 waiting\n") << push.err;
    EXPECT_EQ(StoredPorts(), (std::vector<std::string>{controller.Port()}));
}

TEST_F(PostgresRecords, NewerSchemaIsRefusedAndItsRecordsWait) {
    OnServer("CREATE TABLE quorvale_schema (version integer NOT NULL)");
    OnServer("INSERT INTO quorvale_schema (version) VALUES (2)");
    const ProcessResult report = RunQuorvale({"records", m_server.Uri()});
    EXPECT_EQ(report.exitCode, 2);
    EXPECT_NE(report.err.find("schema version 2"), std::string::npos) << report.err;

    {
        auto target = OpenRecordTarget(m_server.Uri());
        ASSERT_TRUE(target);
        ASSERT_TRUE((*target)->Write(test::SampleRecord("completed", nullptr, false)));
    }
    const ProcessResult push = RunQuorvale({"records", "push"});
    EXPECT_EQ(push.exitCode, 1);
    EXPECT_EQ(push.out, "Sent 0, 1 waiting\n");
    EXPECT_NE(push.err.find("schema version 2"), std::string::npos) << push.err;
    EXPECT_TRUE(
        OnServer("SELECT * FROM information_schema.tables WHERE table_name = 'downloads'").empty());
}

TEST_F(PostgresRecords, PushSendsTheSpoolAndSaysHowMany) {
    ASSERT_TRUE(m_server.Stop());
    {
        auto target = OpenRecordTarget(m_server.Uri());
        ASSERT_TRUE(target);
        for (const Json& record : test::Morning()) {
            ASSERT_TRUE((*target)->Write(record));
        }
    }
    const ProcessResult down = RunQuorvale({"records", "push"});
    EXPECT_EQ(down.exitCode, 1);
    EXPECT_EQ(down.out, "Sent 0, 7 waiting\n");
    ASSERT_TRUE(m_server.Start());
    const ProcessResult up = RunQuorvale({"records", "push"});
    EXPECT_EQ(up.exitCode, 0) << up.err;
    EXPECT_EQ(up.out, "Sent 7, 0 waiting\n");
}

TEST_F(PostgresRecords, ReportIsTheSameFromJsonLinesSqliteAndTheServer) {
    const std::vector<std::string> sources = {m_dir.File("line.jsonl"),
                                              "sqlite:" + m_dir.File("line.db"), m_server.Uri()};
    for (const std::string& source : sources) {
        auto target = OpenRecordTarget(source);
        ASSERT_TRUE(target);
        for (const Json& record : test::Morning()) {
            ASSERT_TRUE((*target)->Write(record));
        }
        EXPECT_TRUE(test::WaitUntil([&] { return (*target)->Waiting() == 0; }, kArrival));
    }
    for (const TimeRange& range :
         {TimeRange{}, TimeRange{"2026-12-10T09:02:00.000Z", "2026-12-10T10:01:00.000Z"}}) {
        std::vector<Json> reports;
        for (const std::string& source : sources) {
            const auto report = ReadYield(source, range);
            ASSERT_TRUE(report) << source << ": " << report.error().Words();
            reports.push_back(YieldJson(*report));
        }
        EXPECT_EQ(reports[0], reports[1]);
        EXPECT_EQ(reports[0], reports[2]);
        EXPECT_EQ(reports[0]["downloads"], range.since ? 3 : 7);
    }
}

}  // namespace
}  // namespace quorvale
