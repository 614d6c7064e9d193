// SPDX-License-Identifier: Apache-2.0
#include "download/worker.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <numeric>
#include <thread>

#include "download/texts.h"
#include "image/firmware_file.h"
#include "link/frame.h"
#include "sim/controller.h"
#include "support/temp_dir.h"
#include "support/timing.h"

namespace quorvale {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Events = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kHardware = 7;
constexpr std::uint8_t kVersion = 3;
constexpr std::uint16_t kBootBaud = 19200;
const LineSettings kApplication{9600, 8, Parity::None, StopBits::One};
const Bytes kEntryRequest{0x5A, 0x5A, 0x5A, 0x04, 0x3C, 0xC3};
const Bytes kFinishFrame{0x0E, 0x02, 0x66, 0x99, 0xF3};
const Bytes kQuery{0x01, 0x00, 0x01};
// What the controller has received once the worker waits for the hardware code: the entry
// request, the twenty wake bytes and the query. Then the version request, and each block's.
constexpr std::size_t kWireBytesToQuery = 6 + 20 + 3;
constexpr std::size_t kVersionRequest = 4;
constexpr std::size_t kBlockRequest = 5 + 256 + 1;

// A Progress that records every report as text, in order, and lets a test act when the
// worker reads the application settings.
class RecordingProgress final : public WorkerThread::Progress {
public:
    RecordingProgress(const FirmwareImage& image, std::string port)
        : m_image(image), m_port(std::move(port)) {}

    std::function<void(unsigned attempt)> onApplicationSettingsRead;
    std::function<void(std::uint32_t done, std::uint32_t total)> onProgress;
    mutable unsigned applicationSettingsReads = 0;

    const char* GetPortName() const override { return m_port.c_str(); }
    std::uint32_t GetAppBaudRate() const override {
        ++applicationSettingsReads;
        if (onApplicationSettingsRead) {
            onApplicationSettingsRead(applicationSettingsReads);
        }
        return kApplication.baudRate;
    }
    std::uint8_t GetAppDataBits() const override { return kApplication.dataBits; }
    std::uint8_t GetAppParity() const override {
        return static_cast<std::uint8_t>(kApplication.parity);
    }
    std::uint8_t GetAppStopBits() const override {
        return static_cast<std::uint8_t>(kApplication.stopBits);
    }
    const FirmwareImage& GetImage() const override { return m_image; }

    void ReportError(const char* text) override { Record(std::string("Error: ") + text); }
    void ReportPhase(DownloadPhase phase) override {
        static const char* const names[] = {"Initiating", "Connected", "Completed"};
        Record(names[phase]);
    }
    void ReportProgress(std::uint32_t done, std::uint32_t total) override {
        Record("Progress " + std::to_string(done) + "/" + std::to_string(total));
        if (onProgress) {
            onProgress(done, total);
        }
    }

    Events Recorded() const {
        const std::lock_guard lock(m_mutex);
        return m_events;
    }
    void WaitForEvents(std::size_t count) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, 10s, [&] { return m_events.size() >= count; });
    }

private:
    void Record(std::string event) {
        const std::lock_guard lock(m_mutex);
        m_events.push_back(std::move(event));
        m_changed.notify_all();
    }

    const FirmwareImage& m_image;
    const std::string m_port;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    Events m_events;
};

Events ProgressEvents(std::uint32_t blocks, std::uint32_t total) {
    Events events;
    for (std::uint32_t block = 1; block <= blocks; ++block) {
        events.push_back("Progress " + std::to_string(std::min(block * 256, total)) + "/" +
                         std::to_string(total));
    }
    return events;
}

// A whole download: a report per block, the repeated final one, then Completed.
Events SuccessEvents(std::uint32_t blocks, std::uint32_t total) {
    Events events{"Initiating", "Connected"};
    const Events progress = ProgressEvents(blocks, total);
    events.insert(events.end(), progress.begin(), progress.end());
    events.push_back("Progress " + std::to_string(total) + "/" + std::to_string(total));
    events.push_back("Completed");
    return events;
}

template <typename T>
std::vector<T> Concat(std::initializer_list<std::vector<T>> parts) {
    std::vector<T> all;
    for (const std::vector<T>& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// The bytes the controller received, cut where the line settings changed.
std::vector<std::pair<sim::LineState, Bytes>> WireSegments(const sim::SimulatedController& sim) {
    std::vector<std::pair<sim::LineState, Bytes>> segments;
    for (const sim::WireByte& byte : sim.Received()) {
        if (segments.empty() || !(segments.back().first == byte.line)) {
            segments.push_back({byte.line, {}});
        }
        segments.back().second.push_back(byte.value);
    }
    return segments;
}

Bytes Frame(Bytes bytes) {
    bytes.push_back(std::accumulate(bytes.begin(), bytes.end(), std::uint8_t{0},
                                    [](std::uint8_t a, std::uint8_t b) { return a ^ b; }));
    return bytes;
}

Bytes BlockRequest(std::uint16_t address, const std::uint8_t* data) {
    Bytes request = Frame({0x0F, 0x02, static_cast<std::uint8_t>(address >> 8),
                           static_cast<std::uint8_t>(address & 0xFF)});
    request.insert(request.end(), data, data + 256);
    request.push_back(std::accumulate(data, data + 256, std::uint8_t{0},
                                      [](std::uint8_t a, std::uint8_t b) { return a ^ b; }));
    return request;
}

class DownloadTest : public testing::Test {
protected:
    // Loads an image made of `data`; the header's baud rate is the bootloader's.
    void LoadImage(const Bytes& data, std::uint16_t start) {
        const Bytes file = EncodeFirmwareFile({kBootBaud, start, kVersion, kHardware}, data);
        ASSERT_EQ(m_image.Load(m_dir.Write("image.qvx", file)), LoadOk);
        m_data = data;
    }

    sim::SimulatedController& StartController(sim::ControllerConfig config = {}) {
        config.hardwareCode = config.hardwareCode ? config.hardwareCode : kHardware;
        config.application = kApplication;
        config.bootloaderBaud = kBootBaud;
        m_sim.emplace(config);
        return *m_sim;
    }

    RecordingProgress& MakeProgress() { return MakeProgress(m_sim->PortPath()); }
    RecordingProgress& MakeProgress(const std::string& port) {
        m_progress.emplace(m_image, port);
        return *m_progress;
    }

    // The port must be free again: the worker closed it on every path.
    void ExpectPortReleased() const {
        EXPECT_TRUE(OpenPort(m_sim->PortPath(), kApplication).IsValid());
    }

    void ExpectFlashHoldsImage(std::uint16_t start) const {
        const auto flash = m_sim->FlashContents();
        for (std::size_t address = 0; address < flash.size(); ++address) {
            const bool inImage = address >= start && address < start + m_data.size();
            const std::uint8_t expected = inImage ? m_data[address - start] : 0xFF;
            if (flash[address] != expected) {
                ADD_FAILURE() << "flash differs at " << address;
                return;
            }
        }
    }

    test::TempDir m_dir;
    FirmwareImage m_image;
    Bytes m_data;
    std::optional<sim::SimulatedController> m_sim;
    std::optional<RecordingProgress> m_progress;
};

// The slowest test (ten attempts of three one-second tries) comes first, so that ctest starts
// it at once and runs everything else beside it.
TEST_F(DownloadTest, SilentBootloaderFailsAfterTenAttempts) {
    LoadImage(Bytes(256, 0x11), 0);
    sim::SimulatedController& sim = StartController({.silent = true});
    RecordingProgress& progress = MakeProgress();

    EXPECT_EQ(PerformDownload(progress).kind, FailureKind::NoHardwareCode);

    EXPECT_EQ(progress.Recorded(),
              (Events{"Initiating",
                      "Error: Failed to get hardware code from port '" + sim.PortPath() + "'"}));
    EXPECT_EQ(progress.applicationSettingsReads, MaxAttempts);
    EXPECT_EQ(sim.HandOvers(), MaxAttempts);
    ExpectPortReleased();
}

TEST_F(DownloadTest, SendsEveryBlockThatIsNotErasedAndReportsInOrder) {
    // Block 1 is erased and passed over; block 2 is erased but for its last byte and goes
    // out whole.
    Bytes data(1024);
    std::iota(data.begin(), data.end(), std::uint8_t{1});
    std::fill(data.begin() + 256, data.begin() + 768, 0xFF);
    data[767] = 0x00;
    LoadImage(data, 0x1000);
    sim::SimulatedController& sim = StartController();
    RecordingProgress& progress = MakeProgress();

    EXPECT_EQ(DownloadWorker(&progress), 0u);

    EXPECT_EQ(progress.Recorded(), SuccessEvents(4, 1024));
    EXPECT_EQ(progress.applicationSettingsReads, 1u);
    ASSERT_TRUE(sim.WaitForDownloads(1, 1s));
    ExpectFlashHoldsImage(0x1000);
    EXPECT_EQ(sim.Downloads()[0].blocksWritten, 3u);
    EXPECT_EQ(sim.Downloads()[0].version, kVersion);

    const Bytes bootloaderBytes = Concat(
        {Bytes(20, 0x00), kQuery, Frame({0x0D, 0x01, kVersion}), BlockRequest(0x1000, &data[0]),
         BlockRequest(0x1200, &data[512]), BlockRequest(0x1300, &data[768]), kFinishFrame});
    const auto segments = WireSegments(sim);
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(segments[0].first.baudRate, 9600u);
    EXPECT_FALSE(segments[0].first.twoStopBits);
    EXPECT_EQ(segments[0].second, kEntryRequest);
    EXPECT_EQ(segments[1].first.baudRate, kBootBaud);
    EXPECT_TRUE(segments[1].first.twoStopBits);
    EXPECT_EQ(segments[1].second, bootloaderBytes);
    ExpectPortReleased();
}

TEST_F(DownloadTest, FullSixtyFourKilobyteImageGoesOutInTwoHundredFiftySixBlocks) {
    Bytes data(65536);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>((i * 7) ^ (i >> 8));
    }
    LoadImage(data, 0);
    ASSERT_EQ(m_image.GetLength(), 65536u);
    sim::SimulatedController& sim = StartController();
    RecordingProgress& progress = MakeProgress();

    EXPECT_EQ(DownloadWorker(&progress), 0u);

    EXPECT_EQ(progress.Recorded(), SuccessEvents(256, 65536));
    ASSERT_TRUE(sim.WaitForDownloads(1, 1s));
    ExpectFlashHoldsImage(0);
    EXPECT_EQ(sim.Downloads().at(0).blocksWritten, 256u);
}

TEST_F(DownloadTest, ErasedImageSendsNoBlockButReportsEveryOne) {
    LoadImage(Bytes(768, 0xFF), 0x2000);
    sim::SimulatedController& sim = StartController();
    RecordingProgress& progress = MakeProgress();

    EXPECT_EQ(DownloadWorker(&progress), 0u);

    EXPECT_EQ(progress.Recorded(), SuccessEvents(3, 768));
    ASSERT_TRUE(sim.WaitForDownloads(1, 1s));
    EXPECT_EQ(sim.Downloads().at(0).blocksWritten, 0u);
    EXPECT_EQ(WireSegments(sim).back().second,
              Concat({Bytes(20, 0x00), kQuery, Frame({0x0D, 0x01, kVersion}), kFinishFrame}));
}

TEST_F(DownloadTest, HardwareCodeAnsweredOnlyOnTheThirdAttempt) {
    LoadImage(Bytes(256, 0x42), 0);
    sim::SimulatedController& sim = StartController({.answerHardwareFromAttempt = 3});
    RecordingProgress& progress = MakeProgress();

    EXPECT_EQ(DownloadWorker(&progress), 0u);

    EXPECT_EQ(progress.Recorded(), SuccessEvents(1, 256));
    EXPECT_EQ(progress.applicationSettingsReads, 3u);
    EXPECT_EQ(sim.HandOvers(), 3u);
    const auto segments = WireSegments(sim);
    ASSERT_EQ(segments.size(), 6u);
    for (std::size_t attempt = 0; attempt < 3; ++attempt) {
        EXPECT_EQ(segments[2 * attempt].second, kEntryRequest);
        const Bytes& bootloader = segments[2 * attempt + 1].second;
        EXPECT_EQ(Bytes(bootloader.begin(), bootloader.begin() + 20), Bytes(20, 0x00));
    }
}

TEST_F(DownloadTest, RetriesRideOutDroppedCorruptedAndNoisyReplies) {
    // Reply 0 answers the hardware code, reply 1 the version, replies 2 on the blocks; each
    // faulty reply costs its command one try.
    LoadImage(Bytes(768, 0x5C), 0x0400);
    sim::SimulatedController& sim =
        StartController({.replyFaults = {{1, sim::ReplyFault::Drop},
                                         {3, sim::ReplyFault::CorruptChecksum},
                                         {5, sim::ReplyFault::Noise}}});
    RecordingProgress& progress = MakeProgress();

    EXPECT_EQ(DownloadWorker(&progress), 0u);

    EXPECT_EQ(progress.Recorded(), SuccessEvents(3, 768));
    ASSERT_TRUE(sim.WaitForDownloads(1, 1s));
    ExpectFlashHoldsImage(0x0400);
}

struct FailureCase {
    const char* name;
    sim::ControllerConfig controller;
    std::uint16_t start;
    const char* message;  // %s: the port
    bool connected;
    std::uint32_t blocksBefore;
    FailureKind kind;
};

TEST_F(DownloadTest, EachFailureEndsWithItsTextAndReleasesThePort) {
    const FailureCase cases[] = {
        {"wrong hardware code",
         {.hardwareCode = 9},
         0,
         "Incorrect hardware code '9' from port '%s'",
         false,
         0,
         FailureKind::WrongHardwareCode},
        {"version refused",
         {.refuseVersion = true},
         0,
         "Failed to set version number '3' on port '%s'",
         true,
         0,
         FailureKind::VersionRefused},
        {"third block refused",
         {.refuseBlockAt = 0x1200},
         0x1000,
         "Failed to send data block at address 4608",
         true,
         2,
         FailureKind::BlockRefused},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        LoadImage(Bytes(1024, 0x11), c.start);
        StartController(c.controller);
        RecordingProgress& progress = MakeProgress();

        const DownloadOutcome result = PerformDownload(progress);

        Events expected{"Initiating"};
        if (c.connected) {
            expected.push_back("Connected");
        }
        const Events blocks = ProgressEvents(c.blocksBefore, 1024);
        expected.insert(expected.end(), blocks.begin(), blocks.end());
        char message[256];
        std::snprintf(message, sizeof message, c.message, m_sim->PortPath().c_str());
        expected.push_back(std::string("Error: ") + message);
        EXPECT_EQ(progress.Recorded(), expected);
        EXPECT_EQ(result.kind, c.kind);
        EXPECT_EQ(result.message, message);
        EXPECT_EQ(result.systemError, 0);
        ExpectPortReleased();
    }
}

TEST_F(DownloadTest, PortThatCannotBeOpenedFailsAtOnce) {
    LoadImage(Bytes(256, 0x11), 0);
    RecordingProgress& progress = MakeProgress(m_dir.File("ttyMissing"));
    const DownloadOutcome result = PerformDownload(progress);
    EXPECT_EQ(result.kind, FailureKind::OpenApplicationPort);
    EXPECT_EQ(result.systemError, ENOENT);
    EXPECT_EQ(progress.Recorded(),
              (Events{"Initiating", "Error: Failed to open application port '" +
                                        m_dir.File("ttyMissing") + "'"}));
}

TEST_F(DownloadTest, ApplicationPortTakenOnTheSecondAttemptFailsWithoutFurtherAttempts) {
    LoadImage(Bytes(256, 0x11), 0);
    sim::SimulatedController& sim = StartController({.answerHardwareFromAttempt = 2});
    RecordingProgress& progress = MakeProgress();
    PortHandle intruder;
    progress.onApplicationSettingsRead = [&](unsigned attempt) {
        if (attempt == 2) {
            intruder = OpenPort(sim.PortPath(), kApplication);
        }
    };

    EXPECT_EQ(DownloadWorker(&progress), 1u);

    ASSERT_TRUE(intruder.IsValid());
    EXPECT_EQ(
        progress.Recorded(),
        (Events{"Initiating", "Error: Failed to open application port '" + sim.PortPath() + "'"}));
    EXPECT_EQ(progress.applicationSettingsReads, 2u);
}

TEST_F(DownloadTest, BootloaderPortTakenDuringTheHandOverPause) {
    LoadImage(Bytes(256, 0x11), 0);
    sim::SimulatedController& sim = StartController();
    RecordingProgress& progress = MakeProgress();
    PortHandle intruder;
    // Takes the port in the pause between closing the application link and reopening.
    std::jthread grabber([&](std::stop_token stop) {
        while (!stop.stop_requested() && !intruder.IsValid()) {
            if (sim.HandOvers() > 0) {
                intruder = OpenPort(sim.PortPath(), kApplication);
            }
            std::this_thread::sleep_for(1ms);
        }
    });

    const DownloadOutcome result = PerformDownload(progress);

    grabber.request_stop();
    grabber.join();
    EXPECT_EQ(result.kind, FailureKind::OpenBootloaderPort);
    EXPECT_EQ(result.systemError, EBUSY);
    EXPECT_EQ(progress.Recorded(),
              (Events{"Initiating", "Error: Failed to open port '" + sim.PortPath() + "'"}));
}

TEST_F(DownloadTest, ARateThePortCannotMakeFailsItsOpenBeforeAByteGoesOut) {
    // Rate 0 in the header, which no port runs at: set, it would hang the line up.
    const Bytes file = EncodeFirmwareFile({0, 0, kVersion, kHardware}, Bytes(256, 0x11));
    ASSERT_EQ(m_image.Load(m_dir.Write("rate0.qvx", file)), LoadOk);
    sim::SimulatedController& sim = StartController();
    RecordingProgress& progress = MakeProgress();

    const DownloadOutcome result = PerformDownload(progress);

    EXPECT_EQ(result.kind, FailureKind::OpenBootloaderPort);
    EXPECT_EQ(result.message, "Failed to open port '" + sim.PortPath() + "'");
    EXPECT_EQ(result.reason, "The port cannot run at 0 baud");
    // The hand-over went out at the application's rate; nothing at the bootloader's.
    EXPECT_EQ(sim.Received().size(), kEntryRequest.size());
    ExpectPortReleased();
}

// How many of this process's descriptors are open on `path` (a terminal that has gone shows
// as "<path> (deleted)").
std::size_t DescriptorsOn(const std::string& path) {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        count += target == path || target == path + " (deleted)" ? 1 : 0;
    }
    return count;
}

// The controller is pulled out once it has received `bytesBeforePull`, the request it answers
// late; the step then fails with `text` (a format of the port's name).
struct LossCase {
    const char* name;
    std::size_t bytesBeforePull;
    sim::ControllerConfig controller;
    const char* text;
};

TEST_F(DownloadTest, PortThatGoesAwayIsALostPortWithTheStepsText) {
    // Reply 0 answers the hardware code; reply 6 answers the fifth block (address 0x1400).
    const LossCase cases[] = {
        {"waiting for the hardware code",
         kWireBytesToQuery,
         {.replyFaults = {{0, sim::ReplyFault::Delay}}, .replyDelay = 900ms},
         "Failed to get hardware code from port '%s'"},
        {"waiting for a block's reply",
         kWireBytesToQuery + kVersionRequest + 5 * kBlockRequest,
         {.replyFaults = {{6, sim::ReplyFault::Delay}}, .replyDelay = 900ms},
         "Failed to send data block at address 5120"},
    };
    for (const LossCase& c : cases) {
        SCOPED_TRACE(c.name);
        LoadImage(Bytes(16 * 256, 0x21), 0x1000);
        sim::SimulatedController& sim = StartController(c.controller);
        RecordingProgress& progress = MakeProgress();
        DownloadOutcome result;
        std::chrono::nanoseconds workerCpu{};
        std::jthread worker([&] {
            const auto cpuBefore = test::ThreadCpuTime();
            result = PerformDownload(progress);
            workerCpu = test::ThreadCpuTime() - cpuBefore;
        });
        ASSERT_TRUE(
            test::WaitUntil([&] { return sim.Received().size() >= c.bytesBeforePull; }, 5s));
        const auto pulled = Clock::now();
        sim.Disconnect();
        worker.join();

        // At once, not after the step's tries have each waited out their second.
        EXPECT_LT(Clock::now() - pulled, 200ms + test::kTimingTolerance);
        EXPECT_LT(workerCpu, 200ms);
        EXPECT_EQ(result.kind, FailureKind::PortLost);
        const std::string text = FormatText(c.text, sim.PortPath().c_str());
        EXPECT_EQ(result.message, text);
        EXPECT_TRUE(result.reason.starts_with("The port went away")) << result.reason;
        EXPECT_EQ(progress.Recorded().back(), "Error: " + text);
        EXPECT_EQ(DescriptorsOn(sim.PortPath()), 0u) << "the worker left its port open";
    }
}

// Pulls the controller out as the hand-over request leaves, on the worker's own thread, so
// that the port's name leads nowhere when the bootloader's port opens. The name is a link of
// the test's own: a pseudo-terminal's number goes to the next terminal any process opens.
struct PullOnHandOver final : LineObserver {
    PullOnHandOver(sim::SimulatedController& sim, std::string link)
        : sim(sim), link(std::move(link)) {}
    void SettingsApplied(const LineSettings&) override {}
    void Sent(std::span<const std::uint8_t> bytes) override {
        if (Bytes(bytes.begin(), bytes.end()) == kEntryRequest) {
            sim.Disconnect();
            std::filesystem::remove(link);
        }
    }
    void Received(std::span<const std::uint8_t>) override {}
    sim::SimulatedController& sim;
    const std::string link;
};

TEST_F(DownloadTest, PortGoneInTheHandOverPauseIsALostPortNotARefusedOpen) {
    LoadImage(Bytes(512, 0x21), 0);
    sim::SimulatedController& sim = StartController();
    const std::string link = m_dir.File("adapter");
    std::filesystem::create_symlink(sim.PortPath(), link);
    RecordingProgress& progress = MakeProgress(link);
    PullOnHandOver pull(sim, link);

    const DownloadOutcome result = PerformDownload(progress, {}, &pull);

    EXPECT_EQ(result.kind, FailureKind::PortLost);
    EXPECT_EQ(result.message, "Failed to open port '" + link + "'");
    EXPECT_EQ(result.reason, "The port went away: No such file or directory");
}

TEST_F(DownloadTest, ControllerGoneBeforeTheFinishFrameIsALostPort) {
    // The last block was acknowledged; the controller is pulled out before the finish frame.
    LoadImage(Bytes(512, 0x21), 0);
    sim::SimulatedController& sim = StartController();
    RecordingProgress& progress = MakeProgress();
    progress.onProgress = [&](std::uint32_t done, std::uint32_t total) {
        if (done == total) {
            sim.Disconnect();
        }
    };

    EXPECT_EQ(PerformDownload(progress).kind, FailureKind::PortLost);

    EXPECT_EQ(progress.Recorded(),
              (Events{"Initiating", "Connected", "Progress 256/512", "Progress 512/512",
                      "Error: Failed to finish download on port '" + sim.PortPath() + "'"}));
    EXPECT_TRUE(sim.Downloads().empty());
    EXPECT_EQ(DescriptorsOn(sim.PortPath()), 0u) << "the worker left its port open";
}

// The engine's own stream: what Download tells, in order, from its one clock.
TEST_F(DownloadTest, DownloadTellsPhasesAndProgressThenOneEndWithTheOutcome) {
    struct Case {
        const char* name;
        std::uint8_t hardwareCode;
        bool stoppedFirst;
        std::string kinds;  // P phase, G progress, E end
        FailureKind kind;
    };
    const Case cases[] = {
        {"completed", kHardware, false, "PPGGGPE", FailureKind::None},
        {"another controller", kHardware + 1, false, "PE", FailureKind::WrongHardwareCode},
        // Nothing else is told once the stop is asked for; the end still is.
        {"stopped", kHardware, true, "E", FailureKind::Cancelled},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoadImage(Bytes(512, 0x21), 0);
        const sim::SimulatedController& sim = StartController({.hardwareCode = c.hardwareCode});
        std::string kinds;
        std::vector<std::uint32_t> times;
        std::optional<DownloadOutcome> ended;
        const DownloadEvents onEvent = [&](const DownloadEvent& event) {
            kinds += "PGE"[static_cast<int>(event.kind)];
            times.push_back(event.elapsedMs);
            if (event.kind == DownloadEvent::Kind::End) {
                ended = *event.outcome;
            }
        };

        std::stop_source stop;
        if (c.stoppedFirst) {
            stop.request_stop();
        }
        const DownloadOutcome outcome =
            Download({sim.PortPath(), kApplication, m_image}, stop.get_token(), onEvent);

        EXPECT_EQ(kinds, c.kinds);
        EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
        EXPECT_EQ(outcome.kind, c.kind);
        ASSERT_TRUE(ended.has_value());
        EXPECT_EQ(ended->kind, outcome.kind);
        EXPECT_EQ(ended->message, outcome.message);
        if (c.kind == FailureKind::None) {
            // The completion and the end are one moment.
            EXPECT_EQ(times[times.size() - 2], times.back());
        }
    }
}

// Stops the worker from another thread once `ready` events were reported and the controller
// has received what the worker then waits on; the worker must return quickly and report
// nothing more.
struct StopCase {
    const char* name;
    std::size_t eventsBeforeStop;
    std::size_t bytesBeforeStop;
    sim::ControllerConfig controller;
};

TEST_F(DownloadTest, StopEndsTheRunQuicklyWithoutFurtherReports) {
    const StopCase cases[] = {
        {"in the hand-over pause", 1, kEntryRequest.size(), {}},
        // Replies 0 and 1 answer the hardware code and the version; reply 6 the fifth block.
        {"waiting for a block's reply",
         6,
         kWireBytesToQuery + kVersionRequest + 5 * kBlockRequest,
         {.replyFaults = {{6, sim::ReplyFault::Delay}}, .replyDelay = 900ms}},
    };
    for (const StopCase& c : cases) {
        SCOPED_TRACE(c.name);
        LoadImage(Bytes(16 * 256, 0x33), 0);
        const sim::SimulatedController& sim = StartController(c.controller);
        RecordingProgress& progress = MakeProgress();
        DownloadOutcome result;
        std::jthread worker(
            [&](std::stop_token stop) { result = PerformDownload(progress, stop); });
        progress.WaitForEvents(c.eventsBeforeStop);
        ASSERT_TRUE(
            test::WaitUntil([&] { return sim.Received().size() >= c.bytesBeforeStop; }, 5s));

        const Events before = progress.Recorded();
        const auto stopAt = Clock::now();
        worker.request_stop();
        worker.join();

        EXPECT_LT(Clock::now() - stopAt, test::kTimingTolerance);
        EXPECT_EQ(before.size(), c.eventsBeforeStop);
        EXPECT_EQ(progress.Recorded(), before);
        EXPECT_EQ(result.kind, FailureKind::Cancelled);
        EXPECT_EQ(result.message, "Download cancelled");
        ExpectPortReleased();
    }
}

}  // namespace
}  // namespace quorvale
