// SPDX-License-Identifier: Apache-2.0
// The command line on a production line: events for programs, a record per controller, the
// protocol trace, ports that come and go, and the port list for programs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cctype>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "cli/command_line.h"
#include "production/host.h"
#include "records/record_target.h"
#include "records/sqlite_database.h"
#include "sim/controller.h"

namespace quorvale {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using test::Args;
using test::CommandLineTest;
using test::ProcessResult;
using test::Quorvale;
using test::RunQuorvale;
using test::Sample;
using test::SimulateProcess;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every line parsed, each required to be one whole JSON object.
std::vector<json> JsonLines(const std::string& text) {
    std::vector<json> objects;
    for (const std::string& line : Lines(text)) {
        objects.push_back(json::parse(line));
        EXPECT_TRUE(objects.back().is_object()) << line;
    }
    return objects;
}

std::vector<std::string> EventNames(const std::vector<json>& events) {
    std::vector<std::string> names;
    for (const json& event : events) {
        names.push_back(event["event"]);
        if (event["event"] == "phase") {
            names.back().append(" ").append(event["phase"].get<std::string>());
        }
    }
    // Progress is collapsed to one entry per run of it.
    names.erase(std::unique(names.begin(), names.end(),
                            [](const std::string& a, const std::string& b) {
                                return a == "progress" && b == "progress";
                            }),
                names.end());
    return names;
}

bool WaitForLines(const std::string& path, std::size_t count, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (Lines(ReadText(path)).size() < count) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// Whether `text` has the shape of `pattern`, where '9' stands for any digit, 'x' for a
// lower-case hex digit, and every other character for itself.
bool HasShape(const std::string& text, const std::string& pattern) {
    if (text.size() != pattern.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool fits = pattern[i] == '9'   ? std::isdigit(static_cast<unsigned char>(c)) != 0
                          : pattern[i] == 'x' ? std::isxdigit(static_cast<unsigned char>(c)) != 0 &&
                                                    !std::isupper(static_cast<unsigned char>(c))
                                              : c == pattern[i];
        if (!fits) {
            return false;
        }
    }
    return true;
}

bool IsUtcTime(const std::string& text) {
    return HasShape(text, "9999-99-99T99:99:99.999Z");
}

// "xx xx ...": bytes as a trace line gives them.
bool IsHexBytes(const std::string& text) {
    std::string pattern = "xx";
    while (pattern.size() < text.size()) {
        pattern += " xx";
    }
    return HasShape(text, pattern);
}

struct EventCase {
    const char* name;
    Args simulator;    // empty: no controller, the port does not exist
    const char* kind;  // nullptr: completed
    std::vector<std::string> events;
};

TEST_F(CommandLineTest, ControllerPulledOutMidDownloadIsALostPortNotARefusedBlock) {
    // Reply 6 answers the fifth block (0x1400), late; the simulator dies meanwhile, and its
    // terminal with it, as a pulled adapter's does.
    SimulateProcess simulator({"--hardware", "7", "--delay-reply", "6", "--reply-delay", "900"});
    const std::string record = m_dir.File("record.jsonl");
    test::Process download(Quorvale({"download", Firmware(Sample(4096)), "--port", simulator.Port(),
                                     "--json", "--record", record}));
    ASSERT_TRUE(download.WaitForOutput("\"done\":1024", 5s));
    simulator.Process().Signal(SIGKILL);

    const ProcessResult result = download.Wait(10s);
    EXPECT_EQ(result.exitCode, 1);
    const std::vector<std::string> err = Lines(result.err);
    ASSERT_EQ(err.size(), 2u) << result.err;
    EXPECT_EQ(err[0], "Failed to send data block at address 5120");
    EXPECT_TRUE(err[1].starts_with("The port went away")) << err[1];
    const json failure = JsonLines(result.out).end()[-2];
    EXPECT_EQ(failure["kind"], "port_lost");
    EXPECT_EQ(failure["message"], err[0]);
    EXPECT_EQ(failure["system_error"], err[1]);
    EXPECT_EQ(json::parse(ReadText(record))["failure_kind"], "port_lost");
}

TEST_F(CommandLineTest, JsonEventsOfEachWayADownloadEnds) {
    const std::vector<std::string> failedAtOnce{"start", "phase initiating", "failure", "end"};
    const EventCase cases[] = {
        {"completed",
         {"--hardware", "7"},
         nullptr,
         {"start", "phase initiating", "phase connected", "progress", "phase completed", "end"}},
        {"no port", {}, "open_application_port", failedAtOnce},
        {"wrong hardware", {"--hardware", "9"}, "wrong_hardware_code", failedAtOnce},
        {"version refused",
         {"--hardware", "7", "--refuse-version"},
         "version_refused",
         {"start", "phase initiating", "phase connected", "failure", "end"}},
        {"block refused",
         {"--hardware", "7", "--refuse-block", "0x1100"},
         "block_refused",
         {"start", "phase initiating", "phase connected", "progress", "failure", "end"}},
    };
    const std::string file = Firmware(Sample(1024));
    for (const EventCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<SimulateProcess> simulator;
        std::string port = m_dir.File("ttyNone");
        if (!c.simulator.empty()) {
            simulator.emplace(c.simulator);
            port = simulator->Port();
        }
        const ProcessResult result = RunQuorvale({"download", file, "--port", port, "--json"});
        EXPECT_EQ(result.exitCode, c.kind ? 1 : 0);

        const std::vector<json> events = JsonLines(result.out);
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(EventNames(events), c.events);
        for (const json& event : events) {
            EXPECT_EQ(event["port"], port);
            EXPECT_TRUE(IsUtcTime(event["time"]));
        }
        const json& start = events.front();
        EXPECT_EQ(start["file"], file);
        EXPECT_EQ(start["file_sha256"].get<std::string>().size(), 64u);
        EXPECT_EQ(start["hardware_code"], 7);
        EXPECT_EQ(start["version"], 3);
        EXPECT_EQ(start["start"], 0x1000);
        EXPECT_EQ(start["length"], 1024);
        EXPECT_EQ(start["bootloader_baud"], 19200);
        EXPECT_EQ(start["tool_version"], "1.0.0");
        const json& end = events.back();
        EXPECT_EQ(end["outcome"], c.kind ? "failed" : "completed");
        EXPECT_TRUE(end["seconds"].is_number());
        EXPECT_TRUE(end["bytes_per_second"].is_number_integer());
        if (c.kind) {
            const json& failure = events[events.size() - 2];
            EXPECT_EQ(failure["kind"], c.kind);
            EXPECT_EQ(failure["message"], Lines(result.err).at(0));
            // Only a port that would not open has the system's reason.
            EXPECT_EQ(failure["system_error"].is_string(), !simulator.has_value());
        } else {
            EXPECT_EQ(events[events.size() - 3]["done"], 1024);
            EXPECT_EQ(result.err, "");
        }
    }
}

TEST_F(CommandLineTest, InterruptedDownloadEndsItsEventsCancelled) {
    SimulateProcess simulator({"--hardware", "7", "--delay-reply", "4", "--reply-delay", "900"});
    test::Process download(
        Quorvale({"download", Firmware(Sample(2048)), "--port", simulator.Port(), "--json"}));
    ASSERT_TRUE(download.WaitForOutput("\"done\":512", 5s));
    download.Signal(SIGINT);
    const ProcessResult result = download.Wait(5s);

    EXPECT_EQ(result.exitCode, 130);
    const std::vector<json> events = JsonLines(result.out);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2]["kind"], "cancelled");
    EXPECT_EQ(events[events.size() - 2]["message"], "Download cancelled");
    EXPECT_EQ(events.back()["outcome"], "cancelled");
}

TEST_F(CommandLineTest, RecordGetsALinePerDownloadFromRunsAndProcessesAlike) {
    const std::string file = Firmware(Sample(512));
    const std::string record = m_dir.File("record.jsonl");
    {
        SimulateProcess good({"--hardware", "7"});
        SimulateProcess wrong({"--hardware", "9"});
        EXPECT_EQ(
            RunQuorvale({"download", file, "--port", good.Port(), "--record", record}).exitCode, 0);
        EXPECT_EQ(
            RunQuorvale({"download", file, "--port", wrong.Port(), "--record", record}).exitCode,
            1);
    }
    {
        SimulateProcess first({"--hardware", "7"});
        SimulateProcess second({"--hardware", "7"});
        test::Process a(Quorvale({"download", file, "--port", first.Port(), "--record", record}));
        test::Process b(Quorvale({"download", file, "--port", second.Port(), "--record", record}));
        EXPECT_EQ(a.Wait().exitCode, 0);
        EXPECT_EQ(b.Wait().exitCode, 0);
    }

    const std::vector<json> lines = JsonLines(ReadText(record));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0]["outcome"], "completed");
    EXPECT_EQ(lines[0]["failure_kind"], nullptr);
    EXPECT_EQ(lines[0]["message"], nullptr);
    EXPECT_EQ(lines[1]["outcome"], "failed");
    EXPECT_EQ(lines[1]["failure_kind"], "wrong_hardware_code");
    for (const json& line : lines) {
        EXPECT_FALSE(line.contains("event"));
        EXPECT_TRUE(IsUtcTime(line["time"]));
        EXPECT_FALSE(line["host"].get<std::string>().empty());
        EXPECT_EQ(line["file"], file);
        EXPECT_EQ(line["length"], 512);
        EXPECT_TRUE(line.contains("bytes_per_second"));
    }
    EXPECT_EQ(lines[2]["outcome"], "completed");
    EXPECT_EQ(lines[3]["outcome"], "completed");
}

TEST_F(CommandLineTest, RecordToSqliteGetsARowPerDownloadOfAGang) {
    const std::string file = Firmware(Sample(512));
    const std::string db = m_dir.File("line.db");
    SimulateProcess good({"--hardware", "7"});
    SimulateProcess wrong({"--hardware", "9"});
    EXPECT_EQ(RunQuorvale({"download", file, "--port", good.Port(), "--port", wrong.Port(),
                           "--record", "sqlite:" + db})
                  .exitCode,
              1);

    auto opened = records::SqliteDatabase::Open(db);
    ASSERT_TRUE(opened);
    const auto rows = (*opened)->Query(
        "SELECT port, outcome, failure_kind, length, file, host FROM downloads ORDER BY outcome");
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 2u);
    EXPECT_EQ((*rows)[0], (records::Row{good.Port(), "completed", nullptr, 512, file, HostName()}));
    EXPECT_EQ((*rows)[1],
              (records::Row{wrong.Port(), "failed", "wrong_hardware_code", 512, file, HostName()}));
}

TEST_F(CommandLineTest, RecordsReportsAFileAndADatabaseOfTheSameDownloadsAlike) {
    const std::string file = m_dir.File("line.jsonl");
    {
        SimulateProcess good({"--hardware", "7"});
        SimulateProcess wrong({"--hardware", "9"});
        RunQuorvale({"download", Firmware(Sample(512)), "--port", good.Port(), "--port",
                     wrong.Port(), "--record", file});
    }
    // The same lines into a database, as a station recording there would have written them.
    {
        auto db = OpenRecordTarget("sqlite:" + m_dir.File("line.db"));
        ASSERT_TRUE(db);
        for (const json& line : JsonLines(ReadText(file))) {
            ASSERT_TRUE((*db)->Write(line));
        }
    }
    for (const Args& options : {Args{}, Args{"--json"}, Args{"--since", "2000-01-01"}}) {
        Args fromFile = {"records", file};
        Args fromDb = {"records", "sqlite:" + m_dir.File("line.db")};
        fromFile.insert(fromFile.end(), options.begin(), options.end());
        fromDb.insert(fromDb.end(), options.begin(), options.end());
        const ProcessResult a = RunQuorvale(fromFile);
        const ProcessResult b = RunQuorvale(fromDb);
        EXPECT_EQ(a.exitCode, 0) << a.err;
        EXPECT_EQ(a.out, b.out);
        EXPECT_NE(a.out.find("wrong_hardware_code"), std::string::npos) << a.out;
    }
    const json report = json::parse(RunQuorvale({"records", file, "--json"}).out);
    EXPECT_EQ(report["downloads"], 2);
    EXPECT_EQ(report["passed"], 1);
    EXPECT_EQ(report["seconds"]["completed"], 1);
    EXPECT_EQ(RunQuorvale({"records", file, "--until", "yesterday"}).exitCode, 2);
}

TEST_F(CommandLineTest, RecordOrTraceThatCannotBeWrittenOpensNoPort) {
    sim::SimulatedController controller({.hardwareCode = 7});
    const std::string noFolder = m_dir.File("missing/record.jsonl");
    const std::string newer = m_dir.File("newer.db");
    {
        auto db = records::SqliteDatabase::Open(newer);
        ASSERT_TRUE(db);
        ASSERT_TRUE((*db)->Execute("CREATE TABLE quorvale_schema (version integer NOT NULL)"));
        ASSERT_TRUE((*db)->Execute("INSERT INTO quorvale_schema (version) VALUES (2)"));
    }
    const struct {
        const char* option;
        std::string value;
        std::string said;
    } cases[] = {
        {"--record", noFolder, noFolder},
        {"--trace", noFolder, noFolder},
        {"--record", "sqlite:" + noFolder, noFolder},
        {"--record", "sqlite:" + newer, "schema version 2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        const ProcessResult result = RunQuorvale({"download", Firmware(Sample(256)), "--port",
                                                  controller.PortPath(), c.option, c.value});
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_NE(result.err.find(c.said), std::string::npos) << result.err;
    }
    EXPECT_EQ(controller.HandOvers(), 0u);
}

TEST_F(CommandLineTest, TraceShowsEveryByteAndEachChangeOfSettings) {
    sim::SimulatedController controller({.hardwareCode = 7});
    const std::string trace = m_dir.File("trace.txt");
    const std::string& port = controller.PortPath();
    ASSERT_EQ(
        RunQuorvale({"download", Firmware(Sample(256)), "--port", port, "--trace", trace}).exitCode,
        0);

    const std::vector<std::string> lines = Lines(ReadText(trace));
    // SECONDS PORT REST: seconds with six decimals, the port as given, then the settings or a
    // direction and the bytes.
    std::vector<std::string> rest;
    double previous = 0;
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        const std::size_t afterSeconds = line.find(' ');
        const std::size_t afterPort = line.find(' ', afterSeconds + 1);
        ASSERT_NE(afterPort, std::string::npos);
        const std::string seconds = line.substr(0, afterSeconds);
        const std::size_t point = seconds.find('.');
        ASSERT_NE(point, std::string::npos);
        EXPECT_TRUE(HasShape(seconds, std::string(point, '9') + ".999999"));
        EXPECT_GE(std::stod(seconds), previous);
        previous = std::stod(seconds);
        EXPECT_EQ(line.substr(afterSeconds + 1, afterPort - afterSeconds - 1), port);
        rest.push_back(line.substr(afterPort + 1));
        if (rest.back().starts_with("-> ") || rest.back().starts_with("<- ")) {
            EXPECT_TRUE(IsHexBytes(rest.back().substr(3)));
        }
    }
    ASSERT_GE(rest.size(), 25u);
    EXPECT_EQ(rest[0], "9600 8N1");
    EXPECT_EQ(rest[1], "-> 5a 5a 5a 04 3c c3");
    EXPECT_EQ(rest[2], "19200 8N2");
    for (std::size_t i = 3; i < 23; ++i) {
        EXPECT_EQ(rest[i], "-> 00");
    }
    EXPECT_NE(std::find_if(rest.begin(), rest.end(),
                           [](const std::string& r) { return r.starts_with("<- "); }),
              rest.end());
    EXPECT_EQ(rest.back(), "-> 0e 02 66 99 f3");
}

TEST_F(CommandLineTest, WaitTakesAPortThatAppearsLaterInAFolderThatAppearsToo) {
    const std::string folder = m_dir.File("by-path");
    const std::string link = folder + "/slot-1";
    test::Process download(
        Quorvale({"download", Firmware(Sample(512)), "--port", link, "--wait", "--json"}));
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    SimulateProcess simulator({"--hardware", "7", "--link", link});

    const ProcessResult result = download.Wait(10s);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(JsonLines(result.out).back()["outcome"], "completed");

    const ProcessResult timedOut =
        RunQuorvale({"download", Firmware(Sample(512)), "--port", m_dir.File("never"),
                     "--wait-timeout", "0.3", "--wait"});
    EXPECT_EQ(timedOut.exitCode, 1);
    EXPECT_EQ(timedOut.err,
              "Port '" + m_dir.File("never") + "' did not appear within 0.3 seconds\n");
}

struct RepeatCase {
    const char* name;
    Args secondController;
    bool interruptWhileDownloading;
    int exitCode;
    const char* secondOutcome;
    const char* summary;
};

TEST_F(CommandLineTest, RepeatFlashesEachPlugUntilInterrupted) {
    const RepeatCase cases[] = {
        {"interrupted while waiting",
         {"--hardware", "7"},
         false,
         0,
         "completed",
         ": 2 completed, 0 failed\n"},
        {"interrupted while downloading",
         {"--hardware", "7", "--delay-reply", "4", "--reply-delay", "900"},
         true,
         130,
         "cancelled",
         ": 1 completed, 0 failed\n"},
    };
    for (const RepeatCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string link = m_dir.File("slot");
        const std::string record = m_dir.File(std::string(c.name) + ".jsonl");
        test::Process download(Quorvale({"download", Firmware(Sample(1024)), "--port", link,
                                         "--repeat", "--record", record, "--json"}));
        {
            SimulateProcess first({"--hardware", "7", "--link", link});
            ASSERT_TRUE(WaitForLines(record, 1, 10s));
        }
        SimulateProcess second([&] {
            Args args = c.secondController;
            args.insert(args.end(), {"--link", link});
            return args;
        }());
        if (c.interruptWhileDownloading) {
            ASSERT_TRUE(download.WaitForOutput("\"done\":512", 10s, 2));
        } else {
            ASSERT_TRUE(WaitForLines(record, 2, 10s));
            std::this_thread::sleep_for(100ms);
        }
        download.Signal(SIGINT);
        const ProcessResult result = download.Wait(5s);

        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_EQ(result.err, link + c.summary);
        const std::vector<json> lines = JsonLines(ReadText(record));
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0]["outcome"], "completed");
        EXPECT_EQ(lines[1]["outcome"], c.secondOutcome);
        EXPECT_EQ(lines[1]["port"], link);
        const std::vector<json> events = JsonLines(result.out);
        EXPECT_EQ(std::count_if(events.begin(), events.end(),
                                [](const json& e) { return e["event"] == "end"; }),
                  2);
    }
}

TEST_F(CommandLineTest, PortsAsJsonNamesEachPortAndWhatIsKnownOfIt) {
    SimulateProcess simulator({});
    const ProcessResult result = RunQuorvale({"ports", "--json"});
    ASSERT_EQ(result.exitCode, 0);
    const json ports = json::parse(result.out);
    ASSERT_TRUE(ports.is_array());
    const auto found = std::find_if(ports.begin(), ports.end(),
                                    [&](const json& p) { return p["port"] == simulator.Port(); });
    ASSERT_NE(found, ports.end()) << result.out;
    EXPECT_EQ((*found)["friendly_name"], "Simulated controller (" + simulator.Port() + ")");
    EXPECT_EQ((*found)["simulated"], true);
    for (const char* unknown : {"by_id", "by_path", "usb_vid", "usb_pid", "serial_number",
                                "manufacturer", "product", "usb_interface"}) {
        EXPECT_EQ((*found)[unknown], nullptr) << unknown;
    }
}

}  // namespace
}  // namespace quorvale
