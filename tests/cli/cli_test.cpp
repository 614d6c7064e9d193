// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <sstream>
#include <thread>
#include <tuple>

#include "cli/command_line.h"
#include "image/firmware_file.h"
#include "link/port_handle.h"
#include "sim/controller.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "support/timing.h"

namespace quorvale {
namespace {

using namespace std::chrono_literals;
using test::Args;
using test::Bytes;
using test::CommandLineTest;
using test::ProcessResult;
using test::Quorvale;
using test::ReadBytes;
using test::RunQuorvale;
using test::Sample;
using test::SimulateProcess;

bool Exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

TEST_F(CommandLineTest, VersionAndInfo) {
    const ProcessResult version = RunQuorvale({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "quorvale 1.0.0\n");

    const std::string file = Firmware(Sample(512));
    const ProcessResult info = RunQuorvale({"info", file});
    EXPECT_EQ(info.exitCode, 0);
    EXPECT_EQ(info.out, "Baud rate: 19200\nHardware: 7\nStart: 4096\nLength: 528\nVersion: 3\n");

    // As a program reads it: the start event's names, the digest as sha256sum gives it.
    const std::string digest = test::Run({"/usr/bin/sha256sum", file}).out.substr(0, 64);
    const ProcessResult json = RunQuorvale({"info", file, "--json"});
    EXPECT_EQ(json.exitCode, 0);
    EXPECT_EQ(json.out, "{\"file\":\"" + file + "\",\"file_sha256\":\"" + digest +
                            "\",\"hardware_code\":7,\"version\":3,\"start\":4096,\"length\":512,"
                            "\"bootloader_baud\":19200}\n");
}

TEST_F(CommandLineTest, RejectedFilesShowThePanelsMessage) {
    Bytes corrupt = EncodeFirmwareFile({19200, 0, 3, 7}, Sample(256));
    corrupt.back() ^= 1;
    const auto text = [](const std::string& lines) { return Bytes(lines.begin(), lines.end()); };
    Bytes elf(64, 0);
    std::copy_n(
        "\x7f"
        "ELF",
        4, elf.begin());
    // A build's own output is recognised, and the way to a firmware file said under the message.
    const std::string pack = " file: make a firmware file from it with 'quorvale pack'\n";
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {m_dir.File("missing file.qvx"), "Failed to open file", ""},
        {m_dir.Write("empty.qvx", {}), "File size is incorrect", ""},
        {m_dir.Write("corrupt.qvx", corrupt), "File checksum is incorrect", ""},
        {m_dir.Write("fw.hex", text(":0400000001020304F2\n:00000001FF\n")),
         "File size is incorrect", "is an Intel HEX"},
        {m_dir.Write("fw.s19", text("S1070000010203046E\nS9030000FC\n")), "File size is incorrect",
         "is an S-record"},
        {m_dir.Write("fw.elf", elf), "File size is incorrect", "is an ELF"},
    };
    for (const auto& [path, message, hint] : cases) {
        SCOPED_TRACE(path);
        const std::string under = hint.empty() ? "" : path + " " + hint + pack;
        for (const Args& args :
             {Args{"info", path}, Args{"download", path, "--port", "/dev/null"}}) {
            const ProcessResult result = RunQuorvale(args);
            EXPECT_EQ(result.exitCode, 2);
            EXPECT_EQ(result.err, message + "\n'" + path + "'\n" + under);
            EXPECT_EQ(result.out, "");
        }
    }
}

TEST_F(CommandLineTest, OddFirmwarePathsAreAnsweredAtOnce) {
    const std::string fifo = m_dir.File("fifo.qvx");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string unreadable =
        m_dir.Write("unreadable.qvx", EncodeFirmwareFile({1, 0, 0, 0}, Sample(256)));
    ::chmod(unreadable.c_str(), 0);
    const bool rootReadsAnyway = ::access(unreadable.c_str(), R_OK) == 0;
    const std::pair<std::string, std::string> rejected[] = {
        {fifo, "Failed to open file"},
        {m_dir.path(), "Failed to open file"},
        {"/dev/zero", "Failed to open file"},
        {rootReadsAnyway ? m_dir.File("gone.qvx") : unreadable, "Failed to open file"},
    };
    for (const auto& [path, message] : rejected) {
        SCOPED_TRACE(path);
        const ProcessResult result = test::Run(Quorvale({"info", path}), 5s);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_EQ(result.err, message + "\n'" + path + "'\n");
    }
    for (const std::string name : {"with spaces.qvx", "prüfung-ß-固件.qvx"}) {
        SCOPED_TRACE(name);
        const std::string path =
            m_dir.Write(name, EncodeFirmwareFile({19200, 0, 1, 2}, Sample(256)));
        EXPECT_EQ(RunQuorvale({"info", path}).exitCode, 0);
    }
}

TEST_F(CommandLineTest, FileGrowingWhileReadIsNeverTakenHalfWritten) {
    const Bytes valid = EncodeFirmwareFile({19200, 0, 1, 2}, Sample(4096));
    const std::string path = m_dir.Write("growing.qvx", valid);
    std::atomic<bool> writing{true};
    std::jthread writer([&] {
        std::ofstream out(path, std::ios::binary | std::ios::app);
        while (writing) {
            out.put('\x5A');
            out.flush();
        }
    });
    for (int run = 0; run < 10; ++run) {
        const ProcessResult result = test::Run(Quorvale({"info", path}), 5s);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_TRUE(result.err.rfind("File size is incorrect", 0) == 0 ||
                    result.err.rfind("Failed to load data correctly from file", 0) == 0)
            << result.err;
    }
    writing = false;
}

TEST_F(CommandLineTest, WhatIsNotASerialPortIsRefusedAndLeftAlone) {
    const std::string file = Firmware(Sample(256));
    const Bytes content{1, 2, 3};
    const std::string regular = m_dir.Write("not-a-port", content);
    const std::string missing = m_dir.File("ttyGone");
    const std::pair<std::string, std::string> cases[] = {
        {regular, "Inappropriate ioctl for device: " + regular + " is not a serial port"},
        {"/dev/null", "Inappropriate ioctl for device: /dev/null is not a serial port"},
        {m_dir.path(), "Is a directory"},
        {missing, "No such file or directory"},
    };
    for (const auto& [port, reason] : cases) {
        SCOPED_TRACE(port);
        const ProcessResult result = RunQuorvale({"download", file, "--port", port});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.err, "Failed to open application port '" + port + "'\n" + reason + "\n");
    }
    EXPECT_EQ(ReadBytes(regular), content);
}

TEST_F(CommandLineTest, PackRefusesWhatCannotBeAFirmwareFile) {
    const std::string small = m_dir.Write("small.bin", Sample(300));
    const std::string empty = m_dir.Write("empty.bin", {});
    const std::string large = m_dir.Write("large.bin", Bytes(65537, 1));
    const std::string output = m_dir.File("out.qvx");
    // Each case changes one thing in a pack command that would otherwise succeed.
    const auto pack = [&](const std::string& input, const std::string& option,
                          const std::string& value) {
        Args args{"pack", input,        output, "--baud",    "19200", "--start",
                  "0",    "--hardware", "7",    "--version", "1"};
        if (!option.empty()) {
            *(std::find(args.begin(), args.end(), option) + 1) = value;
        }
        return args;
    };
    const std::pair<Args, std::string> cases[] = {
        {pack(small, "--start", "0x80"), "multiple of 256"},
        {pack(small, "--start", "0xFF00"), "beyond 64 KiB"},
        {pack(empty, "", ""), "is empty"},
        {pack(large, "", ""), "larger than 65536 bytes"},
        {pack(m_dir.path(), "", ""), "Is a directory"},
        {pack("/dev/zero", "", ""), "not a regular file"},
        {pack(small, "--baud", "0"), "--baud must be 1 to 65535"},
        {pack(small, "--baud", "65536"), "--baud must be 1 to 65535"},
        {pack(small, "--hardware", "256"), "0 to 255"},
        {pack(small, "--version", "0x100"), "0 to 255"},
        {pack(small, "--start", "twelve"), "--start"},
    };
    for (const auto& [args, message] : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        const ProcessResult result = RunQuorvale(args);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
        EXPECT_FALSE(Exists(output));
    }
}

TEST_F(CommandLineTest, PackedFileDownloadsToTheSimulatorAndReadsBack) {
    const Bytes data = Sample(300);
    const std::string packed = m_dir.File("packed.qvx");
    ASSERT_EQ(RunQuorvale({"pack", m_dir.Write("raw.bin", data), packed, "--baud", "0x4B00",
                           "--start", "0x0400", "--hardware", "9", "--version", "12"})
                  .exitCode,
              0);
    EXPECT_EQ(RunQuorvale({"info", packed}).out,
              "Baud rate: 19200\nHardware: 9\nStart: 1024\nLength: 528\nVersion: 12\n");

    const std::string flash = m_dir.File("flash.bin");
    SimulateProcess simulator({"--hardware", "9", "--app-baud", "57600", "--app-stop-bits", "2",
                               "--boot-baud", "19200", "--flash-out", flash});
    const ProcessResult download =
        RunQuorvale({"download", packed, "--port", simulator.Port(), "--baud", "57600",
                     "--stop-bits", "2", "--parity", "NONE", "--data-bits", "8"});
    EXPECT_EQ(download.exitCode, 0) << download.err;
    EXPECT_EQ(download.out,
              "Initiating download\n"
              "Progress  50%  256/512 bytes  0:00\n"
              "Progress 100%  512/512 bytes  0:00\n"
              "Download completed (time taken 0:00)\n");
    EXPECT_EQ(download.err, "");

    ASSERT_TRUE(
        simulator.Process().WaitForOutput("Download finished: 2 blocks written, version 12\n", 2s));
    simulator.Process().Signal(SIGTERM);
    EXPECT_EQ(simulator.Process().Wait().exitCode, 0);
    const Bytes written = ReadBytes(flash);
    ASSERT_EQ(written.size(), 65536u);
    Bytes expected(512, 0xFF);  // packing pads the last page with erased bytes
    std::copy(data.begin(), data.end(), expected.begin());
    EXPECT_EQ(Bytes(written.begin() + 1024, written.begin() + 1024 + 512), expected);
}

TEST_F(CommandLineTest, BadArgumentsAreUsageErrorsAndOpenNoPort) {
    sim::SimulatedController controller;
    const std::string file = Firmware(Sample(256));
    const std::string& port = controller.PortPath();
    const std::pair<Args, std::string> cases[] = {
        {{"download", file, "--port", port, "--parity", "X"}, "--parity"},
        {{"download", file, "--port", port, "--data-bits", "9"}, "--data-bits"},
        {{"download", file, "--port", port, "--baud", "0"}, "--baud"},
        {{"download", file, "--port", port, "--baud", "fast"}, "--baud"},
        {{"download", file, "--port", port, "--stop-bits", "3"}, "--stop-bits"},
        {{"download", "--port", port}, "FILE"},
        {{"download", file}, "--port"},
        {{"info"}, "FILE"},
        {{"simulate", "--hardware", "256"}, "--hardware"},
        {{}, "subcommand"},
    };
    for (const auto& [args, named] : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        const ProcessResult result = RunQuorvale(args);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_NE(result.err.find(named), std::string::npos) << result.err;
    }
    EXPECT_TRUE(controller.Received().empty());
}

TEST_F(CommandLineTest, FailuresGiveTheWorkersTextAndTheReason) {
    const std::string file = Firmware(Sample(256));
    SimulateProcess wrongHardware({"--hardware", "9"});
    sim::SimulatedController held;
    const PortHandle holder = OpenPort(held.PortPath(), {9600, 8, Parity::None, StopBits::One});
    const std::string missing = m_dir.File("ttyNothing");
    const std::pair<std::string, std::string> cases[] = {
        {wrongHardware.Port(),
         "Incorrect hardware code '9' from port '" + wrongHardware.Port() + "'\n"},
        {missing, "Failed to open application port '" + missing + "'\nNo such file or directory\n"},
        {held.PortPath(), "Failed to open application port '" + held.PortPath() +
                              "'\nDevice or resource busy: another program is using the port\n"},
    };
    for (const auto& [port, error] : cases) {
        SCOPED_TRACE(port);
        const ProcessResult result = RunQuorvale({"download", file, "--port", port});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.err, error);
        EXPECT_EQ(result.out, "Initiating download\n");
    }
}

TEST_F(CommandLineTest, PortsListsRunningSimulatorsOnly) {
    // Announcements go to a folder of this test's own.
    ASSERT_EQ(::setenv("XDG_RUNTIME_DIR", m_dir.path().c_str(), 1), 0);
    const ProcessResult before = RunQuorvale({"ports"});
    if (before.out.empty()) {
        EXPECT_EQ(before.exitCode, 1);
        EXPECT_EQ(before.err, "No COM ports available on this computer - cannot download\n");
    } else {
        EXPECT_EQ(before.exitCode, 0);
    }

    for (int signal : {SIGINT, SIGKILL}) {
        SCOPED_TRACE(signal);
        SimulateProcess simulator({});
        const ProcessResult during = RunQuorvale({"ports"});
        EXPECT_EQ(during.exitCode, 0);
        EXPECT_EQ(during.out, before.out + simulator.Port() + "\tSimulated controller (" +
                                  simulator.Port() + ")\n");
        simulator.Process().Signal(signal);
        simulator.Process().Wait();
        // A simulator that could not clean up after itself is passed over all the same.
        EXPECT_EQ(RunQuorvale({"ports"}).out, before.out);
    }
    EXPECT_TRUE(std::filesystem::is_empty(m_dir.path() + "/quorvale"));
}

TEST_F(CommandLineTest, GangDownloadFlashesEachPortOnItsOwn) {
    sim::ControllerConfig good;
    good.hardwareCode = 7;
    sim::ControllerConfig wrong;
    wrong.hardwareCode = 9;
    sim::SimulatedController first(good);
    sim::SimulatedController second(wrong);
    sim::SimulatedController third(good);
    const std::string a = first.PortPath(), b = second.PortPath(), c = third.PortPath();

    const ProcessResult result =
        RunQuorvale({"download", Firmware(Sample(512)), "--port", a, "--port", b, "--port", c});

    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "Incorrect hardware code '9' from port '" + b + "'\n");
    for (const std::string& port : {a, c}) {
        EXPECT_NE(result.out.find(port + ": Progress 100%  512/512 bytes"), std::string::npos);
        EXPECT_NE(result.out.find(port + ": Download completed (time taken 0:00)"),
                  std::string::npos);
    }
    // The summary: a row per port, in the order given.
    const std::size_t summary = result.out.find("Port");
    ASSERT_NE(summary, std::string::npos);
    const std::string table = result.out.substr(summary);
    // The port column is as wide as the longest name: /dev/pts/9 beside /dev/pts/10 is padded.
    const auto row = [&table](const std::string& port, const std::string& ending) {
        std::istringstream lines(table);
        std::size_t number = 0;
        for (std::string line; std::getline(lines, line); ++number) {
            const std::size_t cells = line.find_first_not_of(' ', port.size());
            if (line.rfind(port + " ", 0) == 0 && cells != std::string::npos &&
                line.find("0:00   " + ending, cells) == cells) {
                return number;
            }
        }
        return std::string::npos;
    };
    const std::size_t rowA = row(a, "Download completed");
    const std::size_t rowB = row(b, "Incorrect hardware code");
    const std::size_t rowC = row(c, "Download completed");
    EXPECT_NE(rowC, std::string::npos) << table;
    EXPECT_LT(rowA, rowB) << table;
    EXPECT_LT(rowB, rowC) << table;
    EXPECT_TRUE(first.WaitForDownloads(1, 1s));
    EXPECT_TRUE(third.WaitForDownloads(1, 1s));
    EXPECT_TRUE(second.Downloads().empty());
}

TEST_F(CommandLineTest, InterruptStopsTheDownloadAndReleasesThePort) {
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        // Reply 6 answers block 5; its delay holds the download in a reply wait.
        SimulateProcess simulator(
            {"--hardware", "7", "--delay-reply", "6", "--reply-delay", "900"});
        test::Process download(
            Quorvale({"download", Firmware(Sample(4096)), "--port", simulator.Port()}));
        ASSERT_TRUE(download.WaitForOutput("Progress  20%", 5s));
        std::this_thread::sleep_for(50ms);

        const auto stopAt = std::chrono::steady_clock::now();
        download.Signal(signal);
        const ProcessResult result = download.Wait(5s);

        EXPECT_LT(std::chrono::steady_clock::now() - stopAt, test::kTimingTolerance);
        EXPECT_EQ(result.exitCode, 130);
        EXPECT_EQ(result.err, "Download cancelled\n");
        EXPECT_TRUE(OpenPort(simulator.Port(), {9600, 8, Parity::None, StopBits::One}).IsValid());
    }
}

}  // namespace
}  // namespace quorvale
