// SPDX-License-Identifier: Apache-2.0
// Downloads against simulated controllers that misbehave at random, and checks every outcome:
// a success leaves the controller's flash equal to the image, a failure says which and where
// in the exact words of the download's messages, and nothing runs past its time bound.
//
//   quorvale_soak [--runs N] [--seed S] [--jobs J]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "download/texts.h"
#include "download/worker.h"
#include "files/regular_file.h"
#include "image/firmware_file.h"
#include "sim/controller.h"

namespace quorvale::soak {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

const LineSettings kApplication{9600, 8, Parity::None, StopBits::One};

// Records the outcome of one download.
class OutcomeProgress final : public WorkerThread::Progress {
public:
    OutcomeProgress(const FirmwareImage& image, std::string port)
        : m_image(image), m_port(std::move(port)) {}
    const char* GetPortName() const override { return m_port.c_str(); }
    std::uint32_t GetAppBaudRate() const override { return kApplication.baudRate; }
    std::uint8_t GetAppDataBits() const override { return kApplication.dataBits; }
    std::uint8_t GetAppParity() const override {
        return static_cast<std::uint8_t>(kApplication.parity);
    }
    std::uint8_t GetAppStopBits() const override {
        return static_cast<std::uint8_t>(kApplication.stopBits);
    }
    const FirmwareImage& GetImage() const override { return m_image; }
    void ReportError(const char* text) override { error = text; }
    void ReportPhase(DownloadPhase phase) override { completed = completed || phase == Completed; }
    void ReportProgress(std::uint32_t, std::uint32_t) override {}

    std::string error;
    bool completed = false;

private:
    const FirmwareImage& m_image;
    const std::string m_port;
};

struct Scenario {
    Bytes data;
    std::uint16_t start = 0;
    std::uint8_t hardware = 7;
    sim::ControllerConfig controller;
};

// Random image (size, start, erased blocks) and random trouble on the line.
Scenario MakeScenario(std::mt19937& random) {
    Scenario s;
    const unsigned pages = 1 + random() % 24;
    s.start = static_cast<std::uint16_t>((random() % (257 - pages)) * 256);
    s.data.resize(pages * 256);
    for (unsigned page = 0; page < pages; ++page) {
        const bool erased = random() % 4 == 0;
        for (unsigned i = 0; i < 256; ++i) {
            s.data[page * 256 + i] = erased ? 0xFF : static_cast<std::uint8_t>(random());
        }
    }
    s.controller.hardwareCode = random() % 40 == 0 ? 8 : 7;  // now and then the wrong board
    s.controller.silent = random() % 60 == 0;                // or one whose bootloader is dead
    s.controller.application = kApplication;
    s.controller.replyDelay = std::chrono::milliseconds(100 + random() % 801);
    constexpr sim::ReplyFault kFaults[] = {sim::ReplyFault::Drop, sim::ReplyFault::Delay,
                                           sim::ReplyFault::CorruptChecksum, sim::ReplyFault::Noise,
                                           sim::ReplyFault::WrongEcho};
    const unsigned replies = 2 + pages + 8;
    for (unsigned reply = 0; reply < replies; ++reply) {
        if (random() % 12 == 0) {
            s.controller.replyFaults[reply] = kFaults[random() % std::size(kFaults)];
        }
    }
    if (random() % 8 == 0) {
        // Falls silent for a while: several replies in a row never come.
        const unsigned from = random() % replies;
        for (unsigned reply = from, end = from + 2 + random() % 4; reply < end; ++reply) {
            s.controller.replyFaults[reply] = sim::ReplyFault::Drop;
        }
    }
    return s;
}

// The failure texts a run may end with, for this port and image.
std::vector<std::pair<std::string, std::string>> ExpectedFailures(const std::string& port,
                                                                  const Scenario& s) {
    std::vector<std::pair<std::string, std::string>> texts = {
        {"F1", FormatText(DownloadMessages::FailedToGetHardwareCode, port.c_str())},
        {"F2", FormatText(DownloadMessages::FailedToOpenApplicationPort, port.c_str())},
        {"F3", FormatText(DownloadMessages::FailedToOpenPort, port.c_str())},
        {"F4", FormatText(DownloadMessages::IncorrectHardwareCode,
                          unsigned{s.controller.hardwareCode}, port.c_str())},
        {"F5", FormatText(DownloadMessages::FailedToSetVersionNumber, 3u, port.c_str())},
    };
    // A reply garbled into another valid frame can carry any code.
    for (unsigned code = 0; code < 256; ++code) {
        texts.push_back(
            {"F4", FormatText(DownloadMessages::IncorrectHardwareCode, code, port.c_str())});
    }
    for (std::size_t offset = 0; offset < s.data.size(); offset += 256) {
        texts.push_back({"F6", FormatText(DownloadMessages::FailedToSendDataBlock,
                                          static_cast<unsigned>(s.start + offset))});
    }
    return texts;
}

struct Tally {
    std::mutex mutex;
    std::map<std::string, unsigned> counts;
    std::vector<std::string> problems;
    double longest = 0;

    void Add(const std::string& outcome, double seconds, const std::string& problem) {
        const std::lock_guard lock(mutex);
        ++counts[outcome];
        longest = std::max(longest, seconds);
        if (!problem.empty()) {
            problems.push_back(problem);
        }
    }
};

void RunOne(unsigned index, std::uint32_t seed, Tally& tally) {
    std::mt19937 random(seed + index);
    const Scenario s = MakeScenario(random);
    char folder[] = "/tmp/quorvale-soak-XXXXXX";
    const std::string dir = ::mkdtemp(folder);
    const std::string path = dir + "/image.qvx";
    if (const Status written =
            WriteFileAtomically(path, EncodeFirmwareFile({19200, s.start, 3, 7}, s.data));
        !written) {
        std::fprintf(stderr, "%s\n", written.error().Words().c_str());
        std::exit(1);
    }
    FirmwareImage image;
    image.Load(path);

    sim::SimulatedController controller(s.controller);
    OutcomeProgress progress(image, controller.PortPath());
    // Ten attempts of three one-second tries, plus three seconds for each block at worst.
    const auto bound = 35s + std::chrono::seconds(3 * s.data.size() / 256);
    const auto start = Clock::now();
    std::atomic<bool> done{false};
    std::jthread worker([&](std::stop_token stop) {
        DownloadWorker(&progress, stop);
        done = true;
    });
    while (!done && Clock::now() - start < bound) {
        std::this_thread::sleep_for(10ms);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const std::string name =
        "run " + std::to_string(index) + " (seed " + std::to_string(seed) + ")";
    if (!done) {
        worker.request_stop();
        worker.join();
        tally.Add("hang", seconds, name + ": ran past its bound");
        return;
    }
    worker.join();
    std::filesystem::remove_all(dir);

    if (progress.completed) {
        controller.WaitForDownloads(1, 1s);
        const auto flash = controller.FlashContents();
        const bool equal = std::equal(s.data.begin(), s.data.end(), flash.begin() + s.start);
        tally.Add(equal ? "success" : "false success", seconds,
                  equal ? "" : name + ": flash differs");
        return;
    }
    for (const auto& [kind, text] : ExpectedFailures(controller.PortPath(), s)) {
        if (progress.error == text) {
            tally.Add(kind, seconds, "");
            return;
        }
    }
    tally.Add("unexplained failure", seconds, name + ": '" + progress.error + "'");
}

}  // namespace
}  // namespace quorvale::soak

int main(int argc, char** argv) {
    using namespace quorvale::soak;
    unsigned runs = 300;
    unsigned jobs = 8;
    std::uint32_t seed = static_cast<std::uint32_t>(std::random_device{}());
    for (int i = 1; i + 1 < argc; i += 2) {
        const unsigned value = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
        if (std::strcmp(argv[i], "--runs") == 0) {
            runs = value;
        } else if (std::strcmp(argv[i], "--seed") == 0) {
            seed = value;
        } else if (std::strcmp(argv[i], "--jobs") == 0) {
            jobs = std::max(1u, value);
        }
    }
    std::printf("soak: %u runs, seed %u, %u at a time\n", runs, seed, jobs);
    std::fflush(stdout);

    Tally tally;
    std::atomic<unsigned> next{0};
    std::vector<std::jthread> workers;
    for (unsigned j = 0; j < jobs; ++j) {
        workers.emplace_back([&] {
            for (unsigned index = next++; index < runs; index = next++) {
                RunOne(index, seed, tally);
            }
        });
    }
    workers.clear();

    for (const auto& [outcome, count] : tally.counts) {
        std::printf("  %-20s %u\n", outcome.c_str(), count);
    }
    std::printf("  longest run          %.1f s\n", tally.longest);
    for (const std::string& problem : tally.problems) {
        std::printf("PROBLEM %s\n", problem.c_str());
    }
    return tally.problems.empty() ? 0 : 1;
}
