// SPDX-License-Identifier: Apache-2.0
#include "support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "files/regular_file.h"
#include "image/firmware_file.h"

extern char** environ;

namespace quorvale::bench {
namespace {

long HighWaterMarkKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return 0;
}

}  // namespace

ToolRun RunTool(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t pid = 0;
    ToolRun run;
    if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        return run;
    }
    posix_spawn_file_actions_destroy(&actions);
    // The kernel's maximum resident size of a spawned process starts from the spawning
    // process's own, so the tool's peak is read from its memory map's high-water mark instead,
    // while it runs.
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, WNOHANG, &usage) == 0) {
        run.peakRssKb = std::max(run.peakRssKb, HighWaterMarkKb(pid));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    run.wall = Seconds(Clock::now() - start).count();
    const auto seconds = [](const timeval& t) {
        return double(t.tv_sec) + double(t.tv_usec) / 1e6;
    };
    run.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

Image MakeImage(const std::string& folder, std::uint32_t rate, std::size_t size) {
    std::mt19937 random(rate);
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = static_cast<std::uint8_t>(random());
    }
    for (std::size_t block = 0; block < size; block += 256) {
        data[block] = 0x00;
    }
    Image image;
    image.path = folder + "/bench-" + std::to_string(rate) + ".qvx";
    const auto file = EncodeFirmwareFile({static_cast<std::uint16_t>(rate), 0, 1, kHardware}, data);
    if (const Status written = WriteFileAtomically(image.path, file); !written) {
        std::fprintf(stderr, "%s\n", written.error().Words().c_str());
        std::exit(1);
    }
    image.loaded->Load(image.path);
    image.blocks = static_cast<std::uint32_t>(size / 256);
    return image;
}

std::vector<std::string> DownloadCommand(const std::string& file,
                                         const std::vector<std::string>& ports) {
    std::vector<std::string> args{QUORVALE_EXE, "download", file};
    for (const std::string& port : ports) {
        args.push_back("--port");
        args.push_back(port);
    }
    return args;
}

sim::ControllerConfig Controller(bool paced, std::chrono::milliseconds adapterLatency) {
    sim::ControllerConfig config;
    config.hardwareCode = kHardware;
    config.application = kApplication;
    config.pacedLine = paced;
    config.adapterLatency = adapterLatency;
    return config;
}

GangRun RunGang(const std::string& file, int size, const std::vector<std::string>& extra) {
    std::vector<std::unique_ptr<sim::SimulatedController>> gang;
    std::vector<std::string> ports;
    for (int i = 0; i < size; ++i) {
        gang.push_back(std::make_unique<sim::SimulatedController>(Controller(true)));
        ports.push_back(gang.back()->PortPath());
    }
    std::vector<std::string> args = DownloadCommand(file, ports);
    args.insert(args.end(), extra.begin(), extra.end());
    GangRun run;
    run.tool = RunTool(args);
    run.ok = run.tool.exitCode == 0;
    for (const auto& controller : gang) {
        run.ok = run.ok && controller->WaitForDownloads(1, std::chrono::seconds(1));
    }
    return run;
}

double Percentile(std::vector<double> values, double share) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(share * double(values.size() - 1) + 0.5);
    return values[index];
}

std::string Machine() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    std::string model = "unknown processor";
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    }
    utsname system{};
    ::uname(&system);
    return model + ", " + std::to_string(std::thread::hardware_concurrency()) + " cores, Linux " +
           system.release;
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

void WriteResultsPart(ResultsPart part, const std::string& text) {
    std::string downloads;
    std::string records;
    {
        std::ifstream in(QUORVALE_RESULTS);
        const std::string old((std::istreambuf_iterator<char>(in)), {});
        const std::size_t split = old.find(std::string("\n") + kRecordsHeading);
        downloads = old.substr(0, split == std::string::npos ? old.size() : split + 1);
        records = split == std::string::npos ? std::string() : old.substr(split + 1);
    }
    (part == ResultsPart::Downloads ? downloads : records) = text;
    while (downloads.size() > 1 && downloads.ends_with("\n\n")) {
        downloads.pop_back();
    }
    std::ofstream out(QUORVALE_RESULTS);
    out << downloads << (records.empty() || downloads.empty() ? "" : "\n") << records;
}

}  // namespace quorvale::bench
