// SPDX-License-Identifier: Apache-2.0
#include "station/station_core.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>

#include "dialog/posted_changes.h"
#include "image/firmware_file.h"
#include "jobs/job.h"
#include "jobs/keys.h"
#include "station/station_texts.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "support/timing.h"

namespace quorvale {
namespace {

using namespace std::chrono_literals;
using Change = std::function<void(Tile&)>;

SlotOutcome Outcome(FailureKind kind, const std::string& message, std::uint32_t elapsedMs = 0,
                    std::optional<std::string> systemError = std::nullopt) {
    SlotOutcome outcome;
    outcome.result = {kind, systemError ? 25 : 0, message, {}};
    outcome.elapsedMs = elapsedMs;
    outcome.systemErrorText = std::move(systemError);
    return outcome;
}

const Change kWaiting = [](Tile& t) { t.Waiting(SlotWait::ForController); };
const Change kUnplug = [](Tile& t) { t.Waiting(SlotWait::ForUnplug); };
const Change kStarting = [](Tile& t) { t.Starting(); };
const Change kHalfWay = [](Tile& t) { t.Progress(512, 1024); };
const Change kPassed = [](Tile& t) { t.Ended(Outcome(FailureKind::None, "", 12345)); };

Change Ended(SlotOutcome outcome) {
    return [outcome](Tile& t) { t.Ended(outcome); };
}

struct TileCase {
    const char* name;
    std::vector<Change> changes;
    TileState state;
    std::string stateText;
    std::string detail;
    std::string hint;
    int percent;
    std::string counts;
};

// What the tile shows after each sequence of reports a slot's loop makes.
TEST(Tile, ShowsEachStateOfItsSlot) {
    const TileCase cases[] = {
        {"not started",
         {},
         TileState::NotStarted,
         "Not started",
         "",
         "",
         -1,
         "Passed 0   Failed 0"},
        {"waiting",
         {kWaiting},
         TileState::Waiting,
         "Waiting for a controller",
         "",
         "",
         -1,
         "Passed 0   Failed 0"},
        {"starting",
         {kWaiting, kStarting},
         TileState::Downloading,
         "Downloading",
         "Initiating download",
         "",
         0,
         "Passed 0   Failed 0"},
        {"half way",
         {kStarting, kHalfWay},
         TileState::Downloading,
         "Downloading",
         "512 of 1024 bytes",
         "",
         50,
         "Passed 0   Failed 0"},
        {"passed, still plugged in",
         {kStarting, kHalfWay, kPassed, kUnplug},
         TileState::Passed,
         "Passed",
         "Download completed (time taken 0:12)",
         "Unplug the controller",
         -1,
         "Passed 1   Failed 0"},
        {"next one awaited",
         {kStarting, kPassed, kUnplug, kWaiting},
         TileState::Waiting,
         "Waiting for a controller",
         "",
         "Last: Passed - Download completed (time taken 0:12)",
         -1,
         "Passed 1   Failed 0"},
        {"no serial port at the slot",
         {kStarting, Ended(Outcome(FailureKind::OpenApplicationPort,
                                   "Failed to open application port '/srv/slot'", 3,
                                   "Inappropriate ioctl for device: /srv/slot is not a serial "
                                   "port"))},
         TileState::Failed,
         "Failed",
         "Failed to open application port '/srv/slot'\nInappropriate ioctl for device: "
         "/srv/slot is not a serial port",
         "",
         -1,
         "Passed 0   Failed 1"},
        {"two controllers, the second of the wrong kind",
         {kStarting, kPassed, kUnplug, kWaiting, kStarting,
          Ended(Outcome(FailureKind::WrongHardwareCode,
                        "Incorrect hardware code '9' from port '/srv/slot'", 900))},
         TileState::Failed,
         "Failed",
         "Incorrect hardware code '9' from port '/srv/slot'",
         "",
         -1,
         "Passed 1   Failed 1"},
        {"cancelled by the window's end",
         {kStarting, kHalfWay, Ended(Outcome(FailureKind::Cancelled, "Download cancelled"))},
         TileState::Cancelled,
         "Cancelled",
         "Download cancelled",
         "",
         -1,
         "Passed 0   Failed 0"},
        {"record not written",
         {kStarting, kPassed, [](Tile& t) { t.RecordFailed("No space left on device"); }, kUnplug},
         TileState::Passed,
         "Passed",
         "Download completed (time taken 0:12)\nNot recorded: No space left on device",
         "Unplug the controller",
         -1,
         "Passed 1   Failed 0"},
        {"the next download clears the record's failure",
         {kStarting, kPassed, [](Tile& t) { t.RecordFailed("No space left on device"); },
          kStarting},
         TileState::Downloading,
         "Downloading",
         "Initiating download",
         "",
         0,
         "Passed 1   Failed 0"},
        {"slot given up",
         {[](Tile& t) { t.GaveUp("Cannot watch for port '/srv/slot': Too many open files"); }},
         TileState::Stopped,
         "Stopped",
         "Cannot watch for port '/srv/slot': Too many open files",
         "",
         -1,
         "Passed 0   Failed 0"},
    };
    for (const TileCase& c : cases) {
        SCOPED_TRACE(c.name);
        Tile tile("/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0", "");
        for (const Change& change : c.changes) {
            change(tile);
        }
        const TileLook& look = tile.Look();
        EXPECT_EQ(look.name, "pci-0000:00:14.0-usb-0:2:1.0-port0");
        EXPECT_EQ(look.state, c.state);
        EXPECT_EQ(look.stateText, c.stateText);
        EXPECT_EQ(look.detail, c.detail);
        EXPECT_EQ(look.hint, c.hint);
        EXPECT_EQ(look.percent, c.percent);
        EXPECT_EQ(look.counts, c.counts);
    }
}

TEST(Tile, EveryStateHasItsOwnColour) {
    const TileState states[] = {TileState::NotStarted, TileState::Waiting, TileState::Downloading,
                                TileState::Passed,     TileState::Failed,  TileState::Cancelled,
                                TileState::Stopped};
    for (const TileState a : states) {
        for (const TileState b : states) {
            EXPECT_EQ(a == b, StateColour(a) == StateColour(b));
        }
    }
}

TEST(StationTexts, FillReplacesNumberedPlacesOnly) {
    EXPECT_EQ(StationTexts::Fill("%1 of %2 bytes", {"512", "1024"}), "512 of 1024 bytes");
    EXPECT_EQ(StationTexts::Fill("100% of %1", {"a%2"}), "100% of a%2");
    EXPECT_EQ(StationTexts::Fill("%3 %1", {"x"}), "%3 x");
}

TEST(StationLayout, ColumnsAsSquareAsTheScreenAllows) {
    const struct {
        std::size_t slots;
        int room;
        int columns;
    } cases[] = {{0, 5, 1},  {1, 5, 1},  {3, 5, 3},  {4, 5, 2}, {5, 5, 3},
                 {10, 5, 4}, {17, 5, 5}, {40, 5, 5}, {3, 2, 2}, {8, 0, 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(StationColumns(c.slots, c.room), c.columns) << c.slots << " in " << c.room;
    }
}

TEST(StationOptions, SlotNamesKeptOrMadeAbsolute) {
    const std::string cwd = std::filesystem::current_path().string();
    const struct {
        const char* given;
        bool windowsNames;
        std::string kept;
    } cases[] = {
        {"COM7", true, "COM7"},
        {"com12", true, "com12"},
        {"\\\\.\\COM12", true, "\\\\.\\COM12"},
        {"slot-a", true, cwd + "/slot-a"},
        {"COM", true, cwd + "/COM"},
        {"COM7", false, cwd + "/COM7"},
        {"/dev/ttyUSB0", false, "/dev/ttyUSB0"},
        {"by-path/../slot", false, cwd + "/slot"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SlotPath(c.given, c.windowsNames), c.kept) << c.given;
    }
}

// A window that runs what the station posts when the test says, as a window's thread would.
class FakeView final : public StationView {
public:
    void ShowTile(std::size_t slot, const TileLook& look) override {
        tiles[slot] = look;
        ++shown;
    }
    void ShowTotals(const std::string& text) override { totals = text; }
    void ShowRecord(const std::string& text) override { record = text; }
    void Post(std::function<void()> change) override { m_posted.Add(std::move(change)); }

    // Runs what was posted until `done`, at most `limit`.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        return test::WaitUntil(
            [&] {
                m_posted.RunAll();
                return done();
            },
            limit);
    }

    std::map<std::size_t, TileLook> tiles;
    std::string totals;
    std::string record;
    int shown = 0;

private:
    PostedChanges m_posted;
};

class StationCoreTest : public ::testing::Test {
protected:
    std::string Firmware() {
        std::vector<std::uint8_t> data(1024);
        for (std::size_t i = 0; i < data.size(); ++i) {
            data[i] = static_cast<std::uint8_t>(i * 7);
        }
        return m_dir.Write("fw.qvx", EncodeFirmwareFile({57600, 0x1000, 3, 7}, data));
    }

    test::TempDir m_dir;
};

TEST_F(StationCoreTest, RefusalIsShownAndNothingStarts) {
    const std::string shortFile = m_dir.Write("short.qvx", std::vector<std::uint8_t>(5, 0));
    const std::string folder = m_dir.File("no-such-folder");
    const struct {
        const char* name;
        std::string file;
        std::optional<std::string> record;
        std::string header;
    } cases[] = {
        {"file too short", shortFile, std::nullopt,
         "Nothing is flashed: File size is incorrect\n'" + shortFile + "'"},
        {"record can't be opened", Firmware(), folder + "/line.jsonl",
         "Nothing is flashed: cannot open '" + folder + "/line.jsonl' for appending"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeView view;
        StationCore station({c.file, {m_dir.File("slot")}, {}, c.record}, view);
        EXPECT_TRUE(station.Refused());
        EXPECT_EQ(station.HeaderText().rfind(c.header, 0), 0u) << station.HeaderText();
        station.Start();
        EXPECT_FALSE(view.RunUntil([&] { return view.shown > 0; }, 200ms));
        EXPECT_EQ(station.Tile(0).stateText, "Not started");
    }
}

TEST_F(StationCoreTest, HeaderLineAndFooterSayWhatTheStationRunsWith) {
    FakeView view;
    StationCore station(
        {Firmware(), {"/dev/ttyUSB3"}, {19200, 7, Parity::Even, StopBits::Two}, std::nullopt},
        view);
    ASSERT_FALSE(station.Refused());
    EXPECT_EQ(station.HeaderText().substr(0, 97),
              "Hardware code 7   Version 3   Start 0x1000   Length 1024 bytes   Bootloader 57600 "
              "baud   SHA-256 ");
    EXPECT_EQ(station.HeaderText().size(), 97u + 16u);
    EXPECT_EQ(station.LineText(),
              "Application line: 19200 baud, 7 data bits, parity Even, 2 stop bits");
    EXPECT_EQ(station.RecordText(), "Record: none (start with --record FILE to keep one)");
    EXPECT_EQ(station.TotalsText(), "Total: passed 0, failed 0");
    EXPECT_EQ(station.Tile(0).name, "ttyUSB3");
    EXPECT_FALSE(station.Tile(0).note.empty());
}

// A floor's server that is not there: the download goes on, and the record line says what
// waits for it and why, without the URI's password.
TEST_F(StationCoreTest, RecordLineSaysHowManyRecordsWaitForTheServer) {
    ::setenv("XDG_STATE_HOME", m_dir.path().c_str(), 1);
    const std::string slot = m_dir.File("slot-1");
    const std::string server = "postgresql://line:s3cret@/records?host=" + m_dir.File("no-server");
    FakeView view;
    StationCore station({Firmware(), {slot}, {}, server}, view);
    ASSERT_FALSE(station.Refused()) << station.Refusal();
    EXPECT_EQ(station.RecordText(),
              "Record: postgresql://line:***@/records?host=" + m_dir.File("no-server"));
    station.Start();
    test::Process controller({QUORVALE_EXE, "simulate", "--link", slot, "--hardware", "7"});
    controller.FirstLine(5s);
    ASSERT_TRUE(view.RunUntil([&] { return view.tiles[0].stateText == "Passed"; }, 10s));
    // Then why: the server's own words, which the libpq of the day words.
    const std::string waiting =
        "Record: postgresql://line:***@/records?host=" + m_dir.File("no-server") +
        "   (1 waiting to be sent: ";
    EXPECT_TRUE(view.RunUntil(
        [&] { return view.record.starts_with(waiting) && view.record.size() > waiting.size() + 1; },
        10s))
        << view.record;
}

// A controller plugged into a slot is flashed, its tile and the totals follow on the window's
// thread, and the stop cancels the next one under way and records it so.
TEST_F(StationCoreTest, SlotsReportToTheWindowThread) {
    const std::string slot = m_dir.File("slot-1");
    const std::string record = m_dir.File("line.jsonl");
    FakeView view;
    StationCore station({Firmware(), {slot}, {}, record}, view);
    station.Start();
    {
        test::Process controller({QUORVALE_EXE, "simulate", "--link", slot, "--hardware", "7"});
        controller.FirstLine(5s);
        ASSERT_TRUE(
            view.RunUntil([&] { return view.tiles[0].hint == "Unplug the controller"; }, 10s));
        EXPECT_EQ(view.tiles[0].stateText, "Passed");
        EXPECT_EQ(view.totals, "Total: passed 1, failed 0");
    }
    ASSERT_TRUE(view.RunUntil([&] { return view.tiles[0].state == TileState::Waiting; }, 5s));
    test::Process slow({QUORVALE_EXE, "simulate", "--link", slot, "--hardware", "7",
                        "--delay-reply", "3", "--reply-delay", "900"});
    slow.FirstLine(5s);
    ASSERT_TRUE(view.RunUntil([&] { return view.tiles[0].percent > 0; }, 10s));
    station.Stop();
    view.RunUntil([&] { return view.tiles[0].state == TileState::Cancelled; }, 2s);
    EXPECT_EQ(view.tiles[0].stateText, "Cancelled");
    EXPECT_EQ(view.totals, "Total: passed 1, failed 0");

    std::ifstream lines(record);
    std::vector<std::string> outcomes;
    for (std::string line; std::getline(lines, line);) {
        outcomes.push_back(nlohmann::json::parse(line)["outcome"]);
    }
    EXPECT_EQ(outcomes, (std::vector<std::string>{"completed", "cancelled"}));
}

// Engineering's job flashed by a station that the system's key folder locks: the job's name,
// key and "Locked" at the top, and the job in every record; a plain file refused there.
TEST_F(StationCoreTest, LockedStationFlashesTheSignedJobAlone) {
    const std::string folder = m_dir.File("trusted-keys");
    std::filesystem::create_directory(folder);
    ASSERT_TRUE(MakeKeyFiles(m_dir.File("engineering.key"), ""));
    const auto key = ReadPrivateKeyFile(m_dir.File("engineering.key"));
    std::filesystem::copy_file(m_dir.File("engineering.key.pub"), folder + "/engineering.pub");
    ::setenv("QUORVALE_TEST_TRUSTED_KEYS", folder.c_str(), 1);
    const std::unique_ptr<const char, decltype([](const char* name) { ::unsetenv(name); })> putBack(
        "QUORVALE_TEST_TRUSTED_KEYS");
    const auto job = MakeJob({Firmware(),
                              "Board 7",
                              {19200, 8, Parity::None, StopBits::One},
                              "2026-12-11T08:00:00.000Z"},
                             *key);
    ASSERT_TRUE(job);
    const std::string jobFile =
        m_dir.Write("board.job", std::vector<std::uint8_t>(job->begin(), job->end()));

    FakeView plainView;
    const StationCore plain({Firmware(), {m_dir.File("slot-0")}, {}, std::nullopt}, plainView);
    EXPECT_TRUE(plain.Refused());
    EXPECT_NE(plain.HeaderText().find("the station is locked"), std::string::npos)
        << plain.HeaderText();

    const std::string slot = m_dir.File("slot-1");
    const std::string record = m_dir.File("line.jsonl");
    FakeView view;
    StationOptions options{"", {slot}, {}, record};
    options.job = jobFile;
    StationCore station(options, view);
    ASSERT_FALSE(station.Refused()) << station.Refusal();
    EXPECT_EQ(station.JobText(), "Job: Board 7   Signed by " + KeyId(key->publicKey) + "   Locked");
    EXPECT_EQ(station.LineText(),
              "Application line: 19200 baud, 8 data bits, parity None, 1 stop bits");
    station.Start();
    test::Process controller(
        {QUORVALE_EXE, "simulate", "--link", slot, "--hardware", "7", "--app-baud", "19200"});
    controller.FirstLine(5s);
    ASSERT_TRUE(view.RunUntil([&] { return view.tiles[0].state == TileState::Passed; }, 10s));
    station.Stop();
    std::ifstream lines(record);
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    const auto fields = nlohmann::json::parse(line);
    EXPECT_EQ(fields["job_name"], "Board 7");
    EXPECT_EQ(fields["signed_by"], KeyId(key->publicKey));
    EXPECT_EQ(fields["job_sha256"], Sha256Hex(std::vector<std::uint8_t>(job->begin(), job->end())));
}

}  // namespace
}  // namespace quorvale
