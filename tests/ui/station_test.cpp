// SPDX-License-Identifier: Apache-2.0
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>

#include "image/firmware_file.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "ui/station_app.h"
#include "ui/station_window.h"

using namespace quorvale;
using namespace std::chrono_literals;

namespace {

std::vector<nlohmann::json> RecordLines(const std::string& path) {
    std::vector<nlohmann::json> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(nlohmann::json::parse(line));
    }
    return lines;
}

std::vector<std::string> Args(std::initializer_list<std::string> args) {
    return args;
}

// A simulated controller plugged into a slot: `quorvale simulate --link SLOT`, unplugged (the
// link removed) when it goes.
class Plug {
public:
    Plug(const std::string& slot, std::vector<std::string> extra = {})
        : m_process([&] {
              std::vector<std::string> args = {QUORVALE_EXE, "simulate", "--link", slot};
              args.insert(args.end(), extra.begin(), extra.end());
              return args;
          }()) {
        m_process.FirstLine(5s);
    }

private:
    test::Process m_process;
};

}  // namespace

class StationTest : public QObject {
    Q_OBJECT

private:
    test::TempDir m_dir;

    std::string Firmware(std::uint8_t hardware = 7) {
        std::vector<std::uint8_t> data(2048);
        for (std::size_t i = 0; i < data.size(); ++i) {
            data[i] = static_cast<std::uint8_t>(i * 7);
        }
        return m_dir.Write("fw.qvx", EncodeFirmwareFile({19200, 0x1000, 3, hardware}, data));
    }

    std::variant<StationOptions, StationEnd> Parse(QSettings& settings,
                                                   std::vector<std::string> args) {
        args.insert(args.begin(), "quorvale-station");
        std::vector<const char*> argv;
        for (const std::string& arg : args) {
            argv.push_back(arg.c_str());
        }
        return ParseStationArguments(static_cast<int>(argv.size()), argv.data(), settings);
    }

private Q_SLOTS:
    void StationIsRememberedForTheNextStart() {
        QSettings settings(QString::fromStdString(m_dir.File("station.conf")),
                           QSettings::IniFormat);
        QCOMPARE(std::get<StationEnd>(Parse(settings, {"fw.qvx"})).exitCode, 2);
        QCOMPARE(std::get<StationEnd>(
                     Parse(settings, {"fw.qvx", "--slot", "/srv/a", "--slot", "/srv/b/../a"}))
                     .error,
                 std::string("slot '/srv/a' is given twice"));

        // Relative paths are remembered as what they meant where the station started.
        const auto first =
            Parse(settings, {"fw.qvx", "--slot", "slot-a", "--slot", "/srv/b", "--baud", "19200",
                             "--parity", "even", "--record", "line.jsonl"});
        RememberStation(std::get<StationOptions>(first), settings);
        const std::string cwd = std::filesystem::current_path().string();
        QCOMPARE(settings.value("slots").toStringList().first().toStdString(), cwd + "/slot-a");
        QCOMPARE(settings.value("record").toString().toStdString(), cwd + "/line.jsonl");

        const auto again = Parse(settings, {"other.qvx"});
        const auto& recalled = std::get<StationOptions>(again);
        QCOMPARE(recalled.file, std::string("other.qvx"));
        QVERIFY((recalled.slotPaths == std::vector<std::string>{cwd + "/slot-a", "/srv/b"}));
        QCOMPARE(recalled.line.baudRate, 19200u);
        QCOMPARE(recalled.line.parity, Parity::Even);
        QCOMPARE(recalled.recordFile.value_or(""), cwd + "/line.jsonl");

        // What is given wins; the rest is still remembered; an empty record keeps none.
        const auto changed =
            Parse(settings, {"fw.qvx", "--slot", "/srv/c", "--stop-bits", "2", "--record", ""});
        const auto& options = std::get<StationOptions>(changed);
        QVERIFY((options.slotPaths == std::vector<std::string>{"/srv/c"}));
        QCOMPARE(options.line.baudRate, 19200u);
        QCOMPARE(options.line.stopBits, StopBits::Two);
        QVERIFY(!options.recordFile);
        RememberStation(options, settings);
        QVERIFY(!std::get<StationOptions>(Parse(settings, {"fw.qvx"})).recordFile);
        QCOMPARE(settings.value("slots").toStringList(), QStringList{"/srv/c"});
        QCOMPARE(settings.value("SerialPort/parity").toString(), QString("Even"));

        // A station remembered under the names of old keeps its line settings.
        QSettings old(QString::fromStdString(m_dir.File("old-station.conf")), QSettings::IniFormat);
        old.setValue("slots", QStringList{"/srv/d"});
        old.setValue("baud", "38400");
        old.setValue("stop-bits", "1.5");
        const auto kept = std::get<StationOptions>(Parse(old, {"fw.qvx"}));
        QCOMPARE(kept.line.baudRate, 38400u);
        QCOMPARE(kept.line.stopBits, StopBits::OnePointFive);
        QVERIFY(!old.contains("baud"));
    }

    void WrongFileIsShownAndNothingIsFlashed() {
        const std::string file = m_dir.Write("short.qvx", std::vector<std::uint8_t>(5, 0));
        const std::string slot = m_dir.File("slot-wrong-file");
        Plug controller(slot);
        StationWindow window({file, {slot}, {}, std::nullopt});
        window.Start();
        QCOMPARE(
            window.HeaderText(),
            QString::fromStdString("Nothing is flashed: File size is incorrect\n'" + file + "'"));
        QTest::qWait(300);
        QCOMPARE(window.Tile(0).StateText(), QString("Not started"));
    }

    // Two controllers in two slots, a second one plugged into the first slot, a slot whose
    // path is no serial port, and the window closed with Ctrl+Q while a download is under way.
    void SlotsFlashEachPlugAndRecordIt() {
        const std::string one = m_dir.File("slot-1");
        const std::string two = m_dir.File("slot-2");
        const std::string notAPort = m_dir.Write("not-a-port", std::vector<std::uint8_t>(1, 0));
        const std::string record = m_dir.File("line.jsonl");
        auto first = std::make_unique<Plug>(one, Args({"--hardware", "7"}));
        StationWindow window({Firmware(), {one, two, notAPort}, {}, record});
        QVERIFY(!window.Refused());
        window.show();
        window.Start();
        Plug second(two, {"--hardware", "7"});

        QTRY_COMPARE_WITH_TIMEOUT(window.Tile(0).StateText(), QString("Passed"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(window.Tile(1).StateText(), QString("Passed"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(window.Tile(2).StateText(), QString("Failed"), 10000);
        QVERIFY(window.Tile(2).DetailText().endsWith("is not a serial port"));
        QTRY_COMPARE(window.Tile(0).HintText(), QString("Unplug the controller"));

        first.reset();
        QTRY_COMPARE_WITH_TIMEOUT(window.Tile(0).StateText(), QString("Waiting for a controller"),
                                  5000);
        Plug third(one, {"--hardware", "7"});
        QTRY_COMPARE_WITH_TIMEOUT(window.Tile(0).CountsText(), QString("Passed 2   Failed 0"),
                                  10000);
        QCOMPARE(window.TotalsText(), QString("Total: passed 3, failed 1"));

        // A controller that holds its reply keeps the download under way for the close.
        {
            Plug slow(two, {"--hardware", "7", "--delay-reply", "3", "--reply-delay", "900"});
            QTRY_VERIFY_WITH_TIMEOUT(
                window.Tile(1).StateText() == "Downloading" && window.Tile(1).ProgressPercent() > 0,
                10000);
            QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
            QVERIFY(!window.isVisible());
        }

        const auto lines = RecordLines(record);
        QCOMPARE(lines.size(), std::size_t{5});
        std::map<std::string, std::vector<std::string>> outcomes;
        for (const auto& line : lines) {
            outcomes[line["port"]].push_back(line["outcome"]);
            QCOMPARE(line["file_sha256"].get<std::string>().size(), std::size_t{64});
        }
        QVERIFY((outcomes[one] == std::vector<std::string>{"completed", "completed"}));
        QVERIFY((outcomes[two] == std::vector<std::string>{"completed", "cancelled"}));
        QVERIFY((outcomes[notAPort] == std::vector<std::string>{"failed"}));
        QCOMPARE(lines.back()["message"], "Download cancelled");
    }
};

QTEST_MAIN(StationTest)
#include "station_test.moc"
