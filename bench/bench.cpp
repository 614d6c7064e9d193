// SPDX-License-Identifier: Apache-2.0
// Measures the tool against the wire: whole downloads against a paced simulated controller
// at three rates beside the line's own limit and a plain reference client, the tool's
// turnaround between blocks, its CPU share and memory, and a gang of eight controllers.
// Prints a table and rewrites bench/RESULTS.md.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "reference_client.h"
#include "support.h"

namespace quorvale::bench {
namespace {

constexpr int kGangSizes[] = {8, 32};
constexpr int kTracePairs = 3;
constexpr int kTurnaroundRuns = 5;
constexpr int kRateRuns = 3;
// What an FTDI adapter's latency timer holds each reply for, unless set to low latency.
constexpr std::chrono::milliseconds kAdapterLatency{16};

// What the line itself takes: every character at its bits, plus the two fixed pauses.
double WireLimit(std::uint32_t rate, std::uint32_t blocks) {
    const double applicationChar = 10.0 / kApplication.baudRate;
    const double bootloaderChar = 11.0 / rate;
    const double bootloaderChars = 20 + (3 + 4) + (4 + 4) + blocks * (262.0 + 5) + 5;
    return 6 * applicationChar + 0.100 + 0.020 + bootloaderChars * bootloaderChar;
}

// One paced controller at 57600 baud, with extra arguments for the tool.
ToolRun RunOne(const std::string& file, const sim::ControllerConfig& config,
               const std::vector<std::string>& extra, bool& ok) {
    sim::SimulatedController controller(config);
    std::vector<std::string> args = DownloadCommand(file, {controller.PortPath()});
    args.insert(args.end(), extra.begin(), extra.end());
    const ToolRun run = RunTool(args);
    ok = ok && run.exitCode == 0 && controller.WaitForDownloads(1, std::chrono::seconds(1));
    return run;
}

// The reference client in a process of its own, as the tool is: a client that shares the
// simulator's process is spared the switches between two address spaces on every exchange.
bool ReferenceInOwnProcess(const std::string& port, const FirmwareImage& image) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(ReferenceDownload(port, image, kApplication) ? 0 : 1);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

std::vector<double> Microseconds(const std::vector<std::chrono::nanoseconds>& durations) {
    std::vector<double> values;
    for (const auto d : durations) {
        values.push_back(double(d.count()) / 1000.0);
    }
    return values;
}

struct Turnarounds {
    std::vector<double> tool;
    std::vector<double> reference;
};

// Turnaround: an unpaced line, so that only the programs' own time shows. Both clients run as
// processes of their own, and runs alternate: one run's median moves by tens of microseconds
// with whatever else the machine is doing.
Turnarounds MeasureTurnaround(const Image& image, int runs) {
    Turnarounds all;
    for (int i = 0; i < runs; ++i) {
        sim::SimulatedController unpacedTool(Controller(false));
        RunTool(DownloadCommand(image.path, {unpacedTool.PortPath()}));
        const auto tool = Microseconds(unpacedTool.BlockTurnarounds());
        all.tool.insert(all.tool.end(), tool.begin(), tool.end());
        sim::SimulatedController unpacedReference(Controller(false));
        ReferenceInOwnProcess(unpacedReference.PortPath(), *image.loaded);
        const auto reference = Microseconds(unpacedReference.BlockTurnarounds());
        all.reference.insert(all.reference.end(), reference.begin(), reference.end());
    }
    return all;
}

}  // namespace
}  // namespace quorvale::bench

int main(int argc, char** argv) {
    using namespace quorvale;
    using namespace quorvale::bench;
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const std::size_t imageSize = quick ? 8192 : 65536;
    char folderTemplate[] = "/tmp/quorvale-bench-XXXXXX";
    const std::string folder = ::mkdtemp(folderTemplate);
    if (argc > 1 && std::strcmp(argv[1], "--turnaround") == 0) {
        // Turnaround alone, for looking into the block loop: a profile or a change measured
        // without the minutes the paced downloads take.
        const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : kTurnaroundRuns;
        const Turnarounds t = MeasureTurnaround(MakeImage(folder, 57600, imageSize), runs);
        std::printf("turnaround median: tool %.1f us, reference %.1f us; 99th: %.1f us, %.1f us\n",
                    Percentile(t.tool, 0.5), Percentile(t.reference, 0.5), Percentile(t.tool, 0.99),
                    Percentile(t.reference, 0.99));
        return 0;
    }
    std::ostringstream table;
    bool allOk = true;

    table << "| measurement | tool | reference client | wire limit | tool efficiency |\n"
          << "|---|---|---|---|---|\n";
    double oneAt57600 = 0;
    double worstCpuShare = 0;
    long peakRss = 0;
    for (const std::uint32_t rate : {19200u, 57600u, 65535u}) {
        const Image image = MakeImage(folder, rate, imageSize);
        const double limit = WireLimit(rate, image.blocks);

        // Runs alternate and the medians are compared: one paced download moves by tens of
        // milliseconds with the machine's other work, more than the clients differ by.
        std::vector<double> toolTimes;
        std::vector<double> referenceTimes;
        ToolRun tool;
        for (int run = 0; run < kRateRuns; ++run) {
            sim::SimulatedController toolController(Controller(true));
            const ToolRun one = RunTool(DownloadCommand(image.path, {toolController.PortPath()}));
            allOk = allOk && one.exitCode == 0 &&
                    toolController.WaitForDownloads(1, std::chrono::seconds(1));
            toolTimes.push_back(one.wall);
            tool.cpu = std::max(tool.cpu, one.cpu);
            tool.peakRssKb = std::max(tool.peakRssKb, one.peakRssKb);

            sim::SimulatedController referenceController(Controller(true));
            const auto start = Clock::now();
            allOk =
                ReferenceDownload(referenceController.PortPath(), *image.loaded, kApplication) &&
                allOk;
            referenceTimes.push_back(Seconds(Clock::now() - start).count());
        }
        tool.wall = Percentile(toolTimes, 0.5);
        const double reference = Percentile(referenceTimes, 0.5);

        if (rate == 57600) {
            oneAt57600 = tool.wall;
        }
        worstCpuShare = std::max(worstCpuShare, tool.cpu / tool.wall);
        peakRss = std::max(peakRss, tool.peakRssKb);
        table << "| " << imageSize / 1024 << " KiB at " << rate << " baud, 8N2 | "
              << Fixed(tool.wall, 3) << " s | " << Fixed(reference, 3) << " s | " << Fixed(limit, 3)
              << " s | " << Fixed(100 * limit / tool.wall, 2) << " % |\n";
        std::printf("%u baud: tool %.3f s (cpu %.3f s, %ld KiB), reference %.3f s, limit %.3f s\n",
                    rate, tool.wall, tool.cpu, tool.peakRssKb, reference, limit);
    }

    const Image fast = MakeImage(folder, 57600, imageSize);
    const Turnarounds turnaround = MeasureTurnaround(fast, kTurnaroundRuns);
    const std::vector<double>& toolTurnaround = turnaround.tool;
    const std::vector<double>& referenceTurnaround = turnaround.reference;

    // Gangs of paced controllers against one.
    std::vector<std::pair<int, GangRun>> gangs;
    for (const int size : kGangSizes) {
        gangs.emplace_back(size, RunGang(fast.path, size, {}));
        allOk = allOk && gangs.back().second.ok;
        std::printf("%d controllers: %.3f s (cpu %.3f s)\n", size, gangs.back().second.tool.wall,
                    gangs.back().second.tool.cpu);
    }

    // The trace left on, and replies held by an adapter's latency timer.
    const std::string trace = folder + "/trace.txt";
    // Runs alternate, and the medians are compared, so that the machine's drift between two
    // runs is not taken for the trace's cost.
    std::vector<double> tracedTimes;
    std::vector<double> untracedTimes;
    for (int i = 0; i < kTracePairs; ++i) {
        tracedTimes.push_back(RunOne(fast.path, Controller(true), {"--trace", trace}, allOk).wall);
        untracedTimes.push_back(RunOne(fast.path, Controller(true), {}, allOk).wall);
    }
    const ToolRun traced{Percentile(tracedTimes, 0.5)};
    const ToolRun untraced{Percentile(untracedTimes, 0.5)};
    const ToolRun latency = RunOne(fast.path, Controller(true, kAdapterLatency), {}, allOk);
    std::printf("trace: %.3f s against %.3f s; adapter latency: %.3f s\n", traced.wall,
                untraced.wall, latency.wall);

    table << "| block turnaround, median | " << Fixed(Percentile(toolTurnaround, 0.5), 1)
          << " µs | " << Fixed(Percentile(referenceTurnaround, 0.5), 1) << " µs | | |\n"
          << "| block turnaround, 99th percentile | " << Fixed(Percentile(toolTurnaround, 0.99), 1)
          << " µs | " << Fixed(Percentile(referenceTurnaround, 0.99), 1) << " µs | | |\n"
          << "| CPU (user + system) of `quorvale download`, worst share of wall time | "
          << Fixed(100 * worstCpuShare, 2) << " % | | | |\n"
          << "| peak resident memory of `quorvale download` | " << Fixed(double(peakRss) / 1024, 1)
          << " MiB | | | |\n"
          << "| " << imageSize / 1024 << " KiB at 57600 baud with `--trace FILE`, median of "
          << kTracePairs << " runs alternating with runs without | " << Fixed(traced.wall, 3)
          << " s (" << Fixed(traced.wall - untraced.wall, 3) << " s against "
          << Fixed(untraced.wall, 3) << " s without) | | | |\n"
          << "| " << imageSize / 1024 << " KiB at 57600 baud through an adapter holding each reply "
          << kAdapterLatency.count() << " ms (no low latency) | " << Fixed(latency.wall, 3)
          << " s (" << Fixed(latency.wall / untraced.wall, 2) << " × low latency) | | | |\n";
    for (const auto& [size, gang] : gangs) {
        table << "| " << size << " controllers at once at 57600 baud, against one | "
              << Fixed(gang.tool.wall, 3) << " s (" << Fixed(gang.tool.wall / oneAt57600, 3)
              << " × one), CPU " << Fixed(100 * gang.tool.cpu / gang.tool.wall, 2)
              << " % of one core | | | |\n";
    }

    const std::string report = table.str();
    std::printf("\n%s", report.c_str());
    if (!quick) {
        std::ostringstream results;
        results
            << "# Benchmark results\n\n"
            << "Machine: " << Machine() << ".\n\n"
            << "Command: `scripts/bench.sh` (the `quorvale_bench` program of `bench/`).\n\n"
            << "Downloads run `quorvale download` as a process of its own against a simulated "
               "controller "
               "whose line is paced at the rate and framing in force (8 data bits, no parity, 2 "
               "stop "
               "bits: 11 bits a character). The wire limit counts every character that crosses the "
               "line, both ways, and the two fixed pauses (100 ms after the hand-over request, 20 "
               "ms "
               "after the wake sequence). On a pseudo-terminal the driver's output queue is empty "
               "at "
               "once, so the hand-over request and the wake sequence cross the line during those "
               "pauses "
               "instead of before them: a client can come in up to 18 ms under the limit. The "
               "reference "
               "client talks the same protocol with one blocking poll per wait and no retries or "
               "stop "
               "checks. Turnaround is timed by the controller on an unpaced line, from the last "
               "byte of "
               "a reply to the first byte of the next block's request, over five alternating "
               "runs of each client, both as processes of their own. Each rate's times are the "
               "medians "
               "of three alternating runs of each client.\n\n"
            << report;
        WriteResultsPart(ResultsPart::Downloads, results.str());
    }
    std::printf("%s\n", allOk ? "all downloads succeeded" : "SOME DOWNLOADS FAILED");
    return allOk ? 0 : 1;
}
