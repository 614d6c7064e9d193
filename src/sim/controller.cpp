#include "sim/controller.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace quorvale::sim {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

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

std::uint8_t XorOf(const std::uint8_t* bytes, std::size_t count) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum ^= bytes[i];
    }
    return sum;
}

bool HasTwoStopBits(std::uint8_t stopBitsCode) {
    return stopBitsCode != OneStopBit;
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

    mutable std::mutex mutex;
    mutable std::condition_variable finished;
    std::vector<WireByte> received;
    Flash flash;
    unsigned handOvers = 0;
    std::vector<FinishedDownload> downloads;

private:
    struct Pending {
        Clock::time_point due;
        std::vector<std::uint8_t> bytes;
    };

    void OnByte(std::uint8_t byte, const LineState& line, Clock::time_point now);
    bool FeedEntryRequest(std::uint8_t byte);
    void HandOver();
    void FeedBootloader(std::uint8_t byte, Clock::time_point now);
    void HandleFrame(Clock::time_point now);
    void HandleDataBlock(Clock::time_point now);
    void Finish();
    void Reply(std::vector<std::uint8_t> frame, Clock::time_point now);
    void SendDue(Clock::time_point now);
    int MillisecondsToNextReply(Clock::time_point now) const;

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
    std::vector<Pending> pending;
};

void SimulatedController::State::Run(const std::stop_token& stop) {
    std::uint8_t chunk[1024];
    while (!stop.stop_requested()) {
        pollfd entry{pty.MasterFd(), POLLIN, 0};
        const int ready = ::poll(&entry, 1, MillisecondsToNextReply(Clock::now()));
        if (ready > 0 && (entry.revents & POLLIN)) {
            const ssize_t got = ::read(pty.MasterFd(), chunk, sizeof chunk);
            if (got > 0) {
                const LineState line = pty.ReadLineState();
                const auto now = Clock::now();
                for (ssize_t i = 0; i < got; ++i) {
                    OnByte(chunk[i], line, now);
                }
            }
        } else if (ready > 0) {
            ::poll(nullptr, 0, static_cast<int>(kIdlePoll.count()));
        }
        SendDue(Clock::now());
    }
}

int SimulatedController::State::MillisecondsToNextReply(Clock::time_point now) const {
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(kIdlePoll);
    for (const Pending& reply : pending) {
        const auto until = std::chrono::ceil<std::chrono::milliseconds>(reply.due - now);
        wait = std::clamp(until, 0ms, wait);
    }
    return static_cast<int>(wait.count());
}

void SimulatedController::State::OnByte(std::uint8_t byte, const LineState& line,
                                        Clock::time_point now) {
    {
        const std::lock_guard lock(mutex);
        received.push_back({byte, line});
    }
    // The entry request is watched for in both modes: a tool that got no answer from the
    // bootloader starts over with the application's settings.
    if (MatchesApplication(line) && FeedEntryRequest(byte)) {
        HandOver();
        return;
    }
    if (!MatchesApplication(line)) {
        applicationBytesSeen = 0;
    }
    if (inBootloader && MatchesBootloader(line)) {
        FeedBootloader(byte, now);
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
        HandleDataBlock(now);
    } else if (command == kFinish && frame[1] == 2 && frame[2] == kFinishPayload[0] &&
               frame[3] == kFinishPayload[1]) {
        Finish();
    }
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
    Pending out{now, std::move(reply)};
    switch (fault == config.replyFaults.end() ? ReplyFault::None : fault->second) {
        case ReplyFault::None:
            break;
        case ReplyFault::Drop:
            return;
        case ReplyFault::CorruptChecksum:
            out.bytes.back() ^= 0xFF;
            break;
        case ReplyFault::Noise:
            out.bytes.insert(out.bytes.begin(), kNoise.begin(), kNoise.end());
            break;
        case ReplyFault::Delay:
            out.due += config.replyDelay;
            break;
    }
    const auto later = std::upper_bound(pending.begin(), pending.end(), out.due,
                                        [](auto due, const Pending& p) { return due < p.due; });
    pending.insert(later, std::move(out));
    SendDue(now);
}

void SimulatedController::State::SendDue(Clock::time_point now) {
    auto due = pending.begin();
    while (due != pending.end() && due->due <= now) {
        pty.Write(due->bytes.data(), due->bytes.size());
        ++due;
    }
    pending.erase(pending.begin(), due);
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

void SimulatedController::SendRaw(const std::vector<std::uint8_t>& bytes) {
    m_state->pty.Write(bytes.data(), bytes.size());
}

}  // namespace quorvale::sim
