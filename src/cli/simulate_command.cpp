// SPDX-License-Identifier: Apache-2.0
#include <atomic>
#include <cstdio>
#include <filesystem>

#include "cli/commands.h"
#include "files/regular_file.h"
#include "ports/simulated_ports.h"
#include "production/ending_signals.h"
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
    config.adapterLatency = std::chrono::milliseconds(options.adapterLatencyMs);
    return config;
}

// A symbolic link to the simulator's terminal for as long as it runs: a stand-in for the
// links udev makes, which come and go with the device.
class TerminalLink {
public:
    TerminalLink(const std::string& link, const std::string& terminal) : m_link(link) {
        if (m_link.empty()) {
            return;
        }
        std::error_code error;
        // A link left by a simulator that was killed is replaced; anything else is kept.
        if (std::filesystem::is_symlink(m_link, error)) {
            std::filesystem::remove(m_link, error);
        }
        std::filesystem::create_symlink(terminal, m_link, error);
        if (error) {
            m_error = "cannot make the link '" + m_link + "': " + error.message();
            m_link.clear();
        }
    }
    ~TerminalLink() {
        if (!m_link.empty()) {
            std::error_code ignored;
            std::filesystem::remove(m_link, ignored);
        }
    }
    TerminalLink(const TerminalLink&) = delete;
    TerminalLink& operator=(const TerminalLink&) = delete;

    const std::string& Error() const { return m_error; }

private:
    std::string m_link;
    std::string m_error;
};

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

int RunSimulate(const SimulateOptions& options, EndingSignals& signals) {
    const auto onFinished = [&](const sim::FinishedDownload& download,
                                const sim::SimulatedController::Flash& flash) {
        const std::string version =
            download.version ? std::to_string(unsigned{*download.version}) : "none";
        std::printf("Download finished: %u blocks written, version %s\n", download.blocksWritten,
                    version.c_str());
        std::fflush(stdout);
        if (!options.flashOut.empty()) {
            if (const Status written = WriteFileAtomically(options.flashOut, flash); !written) {
                std::fprintf(stderr, "quorvale simulate: %s\n", written.error().Words().c_str());
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
            if (const Status written = WriteFileAtomically(options.wireOut, {bytes, text.size()});
                !written) {
                std::fprintf(stderr, "quorvale simulate: %s\n", written.error().Words().c_str());
            }
        }
    };
    sim::SimulatedController controller(ControllerConfigFor(options), onFinishedAndWire);
    running = &controller;
    const SimulatorAnnouncement announcement(controller.PortPath());
    const TerminalLink link(options.link, controller.PortPath());
    if (!link.Error().empty()) {
        std::fprintf(stderr, "quorvale simulate: %s\n", link.Error().c_str());
        return ExitUsage;
    }
    std::printf("%s\n", controller.PortPath().c_str());
    std::fflush(stdout);
    while (!signals.Wait()) {
    }
    return ExitSuccess;
}

}  // namespace quorvale::cli
