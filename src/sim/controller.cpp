// SPDX-License-Identifier: Apache-2.0
#include "sim/controller.h"

#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "link/byte_buffer.h"
#include "sim/wire.h"

namespace quorvale::sim {
namespace {

using namespace std::chrono_literals;

// The controller's own copy of the protocol, on purpose not shared with the tool's: a wrong
// byte in the tool's constants then shows as a controller that doesn't understand it, instead
// of being mirrored on both ends and passing every test.
constexpr std::array<std::uint8_t, 6> kEntryRequest{0x5A, 0x5A, 0x5A, 0x04, 0x3C, 0xC3};
constexpr std::uint8_t kQueryHardwareCode = 0x01;
constexpr std::uint8_t kSetVersionNumber = 0x0D;
constexpr std::uint8_t kFinish = 0x0E;
constexpr std::uint8_t kSendDataBlock = 0x0F;
constexpr std::array<std::uint8_t, 2> kFinishPayload{0x66, 0x99};
constexpr std::size_t kBlockSize = 256;
constexpr std::size_t kBlockRequestLength = 5 + kBlockSize + 1;
constexpr std::array<std::uint8_t, 3> kNoise{0x55, 0xAA, 0x13};
// A partial frame followed by this much silence is thrown away, well inside the tool's
// one-second reply wait, so the tool's next try finds the bootloader ready.
constexpr auto kFrameGapReset = 500ms;
constexpr auto kIdlePoll = 5ms;

bool HasTwoStopBits(StopBits stopBits) {
    return stopBits != StopBits::One;
}

}  // namespace

struct SimulatedController::State {
    State(ControllerConfig c, FinishedCallback f) : config(std::move(c)), onFinished(std::move(f)) {
        flash.fill(0xFF);
    }

    void Run(const std::stop_token& stop);

    const ControllerConfig config;
    const FinishedCallback onFinished;
    PseudoTerminal pty;
    Wire wire{pty, config.pacedLine, config.adapterLatency};

    mutable std::mutex mutex;
    mutable std::condition_variable finished;
    std::vector<WireByte> received;
    Flash flash;
    unsigned handOvers = 0;
    std::vector<FinishedDownload> downloads;
    std::vector<std::chrono::nanoseconds> turnarounds;

private:
    void OnByte(const Wire::Arrival& byte);
    bool FeedEntryRequest(std::uint8_t byte);
    void HandOver();
    void FeedBootloader(std::uint8_t byte, Clock::time_point now);
    void HandleFrame(Clock::time_point now);
    void HandleDataBlock(Clock::time_point now);
    void Finish();
    void Reply(std::vector<std::uint8_t> frame, Clock::time_point now);
    void RecordTurnaround();

    bool MatchesApplication(const LineState& line) const {
        return line.baudRate == config.application.baudRate &&
               line.twoStopBits == HasTwoStopBits(config.application.stopBits);
    }
    bool MatchesBootloader(const LineState& line) const {
        return (!config.bootloaderBaud || line.baudRate == *config.bootloaderBaud) &&
               line.twoStopBits;
    }

    // Only the controller's thread touches what follows.
    bool inBootloader = false;
    std::array<std::uint8_t, kEntryRequest.size()> lastApplicationBytes{};
    std::size_t applicationBytesSeen = 0;
    std::vector<std::uint8_t> frame;
    Clock::time_point lastBootloaderByte;
    unsigned repliesMade = 0;
    unsigned blocksWritten = 0;
    std::optional<std::uint8_t> version;
    // When the frame being received began to arrive, and whether the last reply answered a
    // version or a block: the tool's turnaround is timed from that reply to the next block.
    Clock::time_point frameReadAt;
    bool lastReplyPrecedesBlock = false;
};

void SimulatedController::State::Run(const std::stop_token& stop) {
    if (config.pacedLine) {
        // Wake-ups on the dot: the default slack of 50 microseconds would show in the timing.
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    }
    while (!stop.stop_requested()) {
        const auto wakeAt = wire.NextEvent(Clock::now() + kIdlePoll);
        const auto wait = std::max(wakeAt - Clock::now(), Clock::duration::zero());
        const timespec timeout{0,
                               std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count()};
        pollfd entry{pty.MasterFd(), POLLIN, 0};
        if (::ppoll(&entry, 1, &timeout, nullptr) > 0 && (entry.revents & POLLIN)) {
            wire.Receive();
        }
        const auto now = Clock::now();
        while (const auto byte = wire.NextArrived(now)) {
            OnByte(*byte);
        }
        wire.ReleaseDue(Clock::now());
    }
}

void SimulatedController::State::OnByte(const Wire::Arrival& byte) {
    {
        const std::lock_guard lock(mutex);
        received.push_back({byte.value, byte.line});
    }
    // The entry request is watched for in both modes: a tool that got no answer from the
    // bootloader starts over with the application's settings.
    if (MatchesApplication(byte.line) && FeedEntryRequest(byte.value)) {
        HandOver();
        return;
    }
    if (!MatchesApplication(byte.line)) {
        applicationBytesSeen = 0;
    }
    if (inBootloader && MatchesBootloader(byte.line)) {
        if (frame.empty()) {
            frameReadAt = byte.readAt;
        }
        FeedBootloader(byte.value, byte.arrivedAt);
    }
}

bool SimulatedController::State::FeedEntryRequest(std::uint8_t byte) {
    std::shift_left(lastApplicationBytes.begin(), lastApplicationBytes.end(), 1);
    lastApplicationBytes.back() = byte;
    applicationBytesSeen = std::min(applicationBytesSeen + 1, kEntryRequest.size());
    return applicationBytesSeen == kEntryRequest.size() && lastApplicationBytes == kEntryRequest;
}

void SimulatedController::State::HandOver() {
    inBootloader = true;
    applicationBytesSeen = 0;
    frame.clear();
    blocksWritten = 0;
    version.reset();
    const std::lock_guard lock(mutex);
    ++handOvers;
    flash.fill(0xFF);
}

void SimulatedController::State::FeedBootloader(std::uint8_t byte, Clock::time_point now) {
    if (!frame.empty() && now - lastBootloaderByte > kFrameGapReset) {
        frame.clear();
    }
    lastBootloaderByte = now;
    // Between frames the bootloader passes over zero bytes: the wake sequence.
    if (frame.empty() && byte == 0x00) {
        return;
    }
    frame.push_back(byte);
    if (frame.size() < 2) {
        return;
    }
    const bool dataBlock = frame[0] == kSendDataBlock && frame[1] == 0x02;
    const std::size_t expected = dataBlock ? kBlockRequestLength : frame[1] + 3u;
    if (frame.size() == expected) {
        HandleFrame(now);
        frame.clear();
    }
}

void SimulatedController::State::HandleFrame(Clock::time_point now) {
    const std::size_t frameLength = frame[1] + 3u;
    if (XorOf(frame.data(), frameLength - 1) != frame[frameLength - 1]) {
        return;
    }
    const std::uint8_t command = frame[0];
    if (command == kQueryHardwareCode && frame[1] == 0) {
        if (handOvers >= config.answerHardwareFromAttempt) {
            Reply({kQueryHardwareCode, 0x01, config.hardwareCode}, now);
        }
    } else if (command == kSetVersionNumber && frame[1] == 1) {
        if (config.refuseVersion) {
            Reply({kSetVersionNumber, 0x01, static_cast<std::uint8_t>(frame[2] ^ 0x01)}, now);
        } else {
            version = frame[2];
            Reply({kSetVersionNumber, 0x01, frame[2]}, now);
        }
    } else if (command == kSendDataBlock && frame[1] == 2) {
        RecordTurnaround();
        HandleDataBlock(now + config.flashWriteDelay);
    } else if (command == kFinish && frame[1] == 2 && frame[2] == kFinishPayload[0] &&
               frame[3] == kFinishPayload[1]) {
        Finish();
    }
    lastReplyPrecedesBlock = command == kSetVersionNumber || command == kSendDataBlock;
}

void SimulatedController::State::HandleDataBlock(Clock::time_point now) {
    const std::uint8_t* data = frame.data() + 5;
    if (XorOf(data, kBlockSize) != frame.back()) {
        return;
    }
    const auto address = static_cast<std::uint16_t>((frame[2] << 8) | frame[3]);
    if (config.refuseBlockAt == address) {
        Reply({kSendDataBlock, 0x02, frame[2], static_cast<std::uint8_t>(frame[3] ^ 0x01)}, now);
        return;
    }
    {
        const std::lock_guard lock(mutex);
        const std::size_t fits = std::min(kBlockSize, FlashSize - address);
        std::copy_n(data, fits, flash.begin() + address);
    }
    ++blocksWritten;
    Reply({kSendDataBlock, 0x02, frame[2], frame[3]}, now);
}

void SimulatedController::State::Finish() {
    const FinishedDownload finishedDownload{blocksWritten, version};
    inBootloader = false;
    {
        const std::lock_guard lock(mutex);
        downloads.push_back(finishedDownload);
    }
    finished.notify_all();
    if (onFinished) {
        Flash flashNow;
        {
            const std::lock_guard lock(mutex);
            flashNow = flash;
        }
        onFinished(finishedDownload, flashNow);
    }
}

void SimulatedController::State::Reply(std::vector<std::uint8_t> reply, Clock::time_point now) {
    if (config.silent) {
        return;
    }
    reply.push_back(XorOf(reply.data(), reply.size()));
    const auto fault = config.replyFaults.find(repliesMade++);
    switch (fault == config.replyFaults.end() ? ReplyFault::None : fault->second) {
        case ReplyFault::None:
            break;
        case ReplyFault::Drop:
            return;
        case ReplyFault::CorruptChecksum:
            reply.back() ^= 0xFF;
            break;
        case ReplyFault::Noise:
            reply.insert(reply.begin(), kNoise.begin(), kNoise.end());
            break;
        case ReplyFault::WrongEcho:
            reply[reply.size() - 2] ^= 0x01;
            reply.back() = XorOf(reply.data(), reply.size() - 1);
            break;
        case ReplyFault::Delay:
            wire.Send(reply, now + config.replyDelay, true);
            return;
    }
    wire.Send(reply, now);
}

void SimulatedController::State::RecordTurnaround() {
    if (lastReplyPrecedesBlock) {
        const std::lock_guard lock(mutex);
        turnarounds.push_back(frameReadAt - wire.LastSent());
    }
}

SimulatedController::SimulatedController(ControllerConfig config, FinishedCallback onFinished)
    : m_state(std::make_unique<State>(std::move(config), std::move(onFinished))),
      m_thread([state = m_state.get()](std::stop_token stop) { state->Run(stop); }) {}

SimulatedController::~SimulatedController() {
    m_thread.request_stop();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

const std::string& SimulatedController::PortPath() const {
    return m_state->pty.SlavePath();
}

std::vector<WireByte> SimulatedController::Received() const {
    const std::lock_guard lock(m_state->mutex);
    return m_state->received;
}

SimulatedController::Flash SimulatedController::FlashContents() const {
    const std::lock_guard lock(m_state->mutex);
    return m_state->flash;
}

unsigned SimulatedController::HandOvers() const {
    const std::lock_guard lock(m_state->mutex);
    return m_state->handOvers;
}

std::vector<std::chrono::nanoseconds> SimulatedController::BlockTurnarounds() const {
    const std::lock_guard lock(m_state->mutex);
    return m_state->turnarounds;
}

std::vector<FinishedDownload> SimulatedController::Downloads() const {
    const std::lock_guard lock(m_state->mutex);
    return m_state->downloads;
}

bool SimulatedController::WaitForDownloads(std::size_t count,
                                           std::chrono::milliseconds limit) const {
    std::unique_lock lock(m_state->mutex);
    return m_state->finished.wait_for(lock, limit,
                                      [&] { return m_state->downloads.size() >= count; });
}

void SimulatedController::Disconnect() {
    m_thread.request_stop();
    if (m_thread.joinable()) {
        m_thread.join();
    }
    m_state->pty.Close();
}

}  // namespace quorvale::sim
