// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/port_handle.h"
#include "sim/pseudo_terminal.h"

namespace quorvale::sim {

// What goes wrong with one of the bootloader's replies.
enum class ReplyFault {
    None,
    Drop,             // the reply is never sent
    CorruptChecksum,  // its last byte is flipped
    Noise,            // a few stray bytes go out before it
    Delay,            // it goes out after ControllerConfig::replyDelay
    WrongEcho,        // its last payload byte is changed, its checksum made to match
};

struct ControllerConfig {
    std::uint8_t hardwareCode = 0;
    // The running application takes the hand-over request only at these settings (of which a
    // pseudo-terminal shows the rate and the stop bits).
    LineSettings application{9600, 8, Parity::None, StopBits::One};
    // The bootloader talks 8N2 at the firmware header's rate; unset means it takes any rate.
    std::optional<std::uint32_t> bootloaderBaud{};

    bool silent = false;                           // the bootloader never answers
    unsigned answerHardwareFromAttempt = 1;        // hand-overs before that get no answer
    bool refuseVersion = false;                    // echo another version number
    std::optional<std::uint16_t> refuseBlockAt{};  // echo another address for this block
    std::map<unsigned, ReplyFault> replyFaults{};  // by the bootloader reply's index, from 0
    std::chrono::milliseconds replyDelay{0};

    // Run both directions at the speed of the line settings in force, as a real UART would.
    bool pacedLine = false;
    // How long storing a block takes before its reply (a real flash write).
    std::chrono::microseconds flashWriteDelay{0};
    // Each reply reaches the tool this much later, as through a USB-serial adapter that holds
    // short packets for its latency timer (16 ms on FTDI chips unless set to low latency).
    std::chrono::milliseconds adapterLatency{0};
};

// A received byte with the line settings read when the controller took it from the terminal.
// A pseudo-terminal keeps no settings per byte, so a tool that changed the settings at once
// after writing could have its last bytes recorded under the new ones; the tool's pauses
// between links leave ample time.
struct WireByte {
    std::uint8_t value;
    LineState line;
};

struct FinishedDownload {
    unsigned blocksWritten = 0;
    std::optional<std::uint8_t> version;
};

// A controller on a pseudo-terminal: its running application, which hands over to the
// bootloader on the entry request; the bootloader, which answers the hardware-code, version
// and data-block commands and stores blocks in 64 KiB of flash (erased = 0xFF) until the
// finish frame; and a record of every byte received with the line settings then in force.
// It runs on a thread of its own from construction to destruction.
class SimulatedController {
public:
    static constexpr std::size_t FlashSize = 65536;
    using Flash = std::array<std::uint8_t, FlashSize>;
    // Called on the controller's thread after each finish frame, with the flash as it stands.
    using FinishedCallback = std::function<void(const FinishedDownload&, const Flash&)>;

    explicit SimulatedController(ControllerConfig config = {}, FinishedCallback onFinished = {});
    ~SimulatedController();
    SimulatedController(const SimulatedController&) = delete;
    SimulatedController& operator=(const SimulatedController&) = delete;

    const std::string& PortPath() const;

    std::vector<WireByte> Received() const;
    Flash FlashContents() const;
    unsigned HandOvers() const;
    std::vector<FinishedDownload> Downloads() const;
    // For each data block after the first: from the last byte of the reply before it to the
    // first byte of its request, as the controller saw them.
    std::vector<std::chrono::nanoseconds> BlockTurnarounds() const;
    // Waits until `count` downloads have finished, at most `limit`; answers whether they have.
    bool WaitForDownloads(std::size_t count, std::chrono::milliseconds limit) const;

    // The controller goes away as a pulled-out USB adapter does: its terminal is closed when
    // this returns, and it receives and answers nothing more. It waits for the controller's
    // thread, so it must not be called from the FinishedCallback, which runs on that thread.
    void Disconnect();

private:
    struct State;
    std::unique_ptr<State> m_state;
    std::jthread m_thread;
};

}  // namespace quorvale::sim
