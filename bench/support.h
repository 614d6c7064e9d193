// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/firmware_image.h"
#include "sim/controller.h"

// What the benchmarks share: the tool run as a process of its own and timed, the images and
// controllers they download to, and the way they print.
namespace quorvale::bench {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

inline const LineSettings kApplication{9600, 8, Parity::None, StopBits::One};
inline constexpr std::uint8_t kHardware = 7;

struct ToolRun {
    double wall = 0;
    double cpu = 0;
    long peakRssKb = 0;
    int exitCode = -1;
};

// Runs the command-line tool as its own process, output discarded, and takes the kernel's
// accounting of it.
ToolRun RunTool(const std::vector<std::string>& args);

struct Image {
    std::string path;
    std::unique_ptr<FirmwareImage> loaded = std::make_unique<FirmwareImage>();
    std::uint32_t blocks = 0;
};

// Random data with no erased block, so every block goes over the wire; its bootloader rate
// `rate`. Exits when it can't be written.
Image MakeImage(const std::string& folder, std::uint32_t rate, std::size_t size);

std::vector<std::string> DownloadCommand(const std::string& file,
                                         const std::vector<std::string>& ports);

sim::ControllerConfig Controller(bool paced, std::chrono::milliseconds adapterLatency = {});

struct GangRun {
    ToolRun tool;
    bool ok = false;
};
// `size` paced controllers flashed by one command, with `extra` arguments for the tool.
GangRun RunGang(const std::string& file, int size, const std::vector<std::string>& extra);

// The value at `share` (0 to 1) of the values in order; 0 for none.
double Percentile(std::vector<double> values, double share);

// The processor, its cores and the kernel, for a results file's heading.
std::string Machine();
std::string Fixed(double value, int decimals);

// bench/RESULTS.md holds the downloads' results, then the records' under their own heading;
// each benchmark rewrites its own part and keeps the other.
enum class ResultsPart { Downloads, Records };
inline constexpr char kRecordsHeading[] = "## Records";
void WriteResultsPart(ResultsPart part, const std::string& text);

}  // namespace quorvale::bench
