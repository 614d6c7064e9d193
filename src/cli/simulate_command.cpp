#include <atomic>
#include <cstdio>

#include "cli/commands.h"
#include "cli/signals.h"
#include "files/regular_file.h"
#include "ports/simulated_ports.h"
#include "sim/controller.h"

namespace quorvale::cli {
namespace {

sim::ControllerConfig ControllerConfigFor(const SimulateOptions& options) {
    sim::ControllerConfig config;
    config.hardwareCode = static_cast<std::uint8_t>(options.hardwareCode);
    config.application = options.application;
    config.bootloaderBaud = options.bootloaderBaud;
    config.silent = options.silent;
    config.answerHardwareFromAttempt = options.answerFromAttempt;
    config.refuseVersion = options.refuseVersion;
    if (options.refuseBlockAt) {
        config.refuseBlockAt = static_cast<std::uint16_t>(*options.refuseBlockAt);
    }
    const std::pair<const std::vector<std::uint32_t>&, sim::ReplyFault> faults[] = {
        {options.dropReplies, sim::ReplyFault::Drop},
        {options.corruptReplies, sim::ReplyFault::CorruptChecksum},
        {options.noisyReplies, sim::ReplyFault::Noise},
        {options.delayedReplies, sim::ReplyFault::Delay},
    };
    for (const auto& [replies, fault] : faults) {
        for (const std::uint32_t reply : replies) {
            config.replyFaults[reply] = fault;
        }
    }
    config.replyDelay = std::chrono::milliseconds(options.replyDelayMs);
    config.pacedLine = options.paced;
    config.flashWriteDelay = std::chrono::microseconds(options.flashWriteDelayUs);
    return config;
}

// "<baud> <1|2 stop bits> <hex bytes>", a line each time the line settings changed.
std::string WireText(const std::vector<sim::WireByte>& received) {
    std::string text;
    const sim::LineState* previous = nullptr;
    for (const sim::WireByte& byte : received) {
        if (!previous || !(*previous == byte.line)) {
            if (previous) {
                text += '\n';
            }
            text += std::to_string(byte.line.baudRate);
            text += byte.line.twoStopBits ? " 2 " : " 1 ";
        }
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", byte.value);
        text += hex;
        previous = &byte.line;
    }
    return text + "\n";
}

}  // namespace

int RunSimulate(const SimulateOptions& options) {
    const auto onFinished = [&](const sim::FinishedDownload& download,
                                const sim::SimulatedController::Flash& flash) {
        const std::string version =
            download.version ? std::to_string(unsigned{*download.version}) : "none";
        std::printf("Download finished: %u blocks written, version %s\n", download.blocksWritten,
                    version.c_str());
        std::fflush(stdout);
        if (!options.flashOut.empty()) {
            if (const auto failure = WriteFileAtomically(options.flashOut, flash)) {
                std::fprintf(stderr, "quorvale simulate: %s\n", failure->c_str());
            }
        }
    };
    // The controller's own thread calls back, possibly before the constructor has returned.
    std::atomic<sim::SimulatedController*> running{nullptr};
    const auto onFinishedAndWire = [&](const sim::FinishedDownload& download,
                                       const sim::SimulatedController::Flash& flash) {
        onFinished(download, flash);
        if (const auto* controller = running.load(); !options.wireOut.empty() && controller) {
            const std::string text = WireText(controller->Received());
            const auto bytes = reinterpret_cast<const std::uint8_t*>(text.data());
            if (const auto failure = WriteFileAtomically(options.wireOut, {bytes, text.size()})) {
                std::fprintf(stderr, "quorvale simulate: %s\n", failure->c_str());
            }
        }
    };
    sim::SimulatedController controller(ControllerConfigFor(options), onFinishedAndWire);
    running = &controller;
    const SimulatorAnnouncement announcement(controller.PortPath());
    std::printf("%s\n", controller.PortPath().c_str());
    std::fflush(stdout);
    while (IsWakeUp(WaitForSignal())) {
    }
    return ExitSuccess;
}

}  // namespace quorvale::cli
