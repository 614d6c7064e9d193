// SPDX-License-Identifier: Apache-2.0
#include "download/worker.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>

#include "download/texts.h"
#include "link/bootloader.h"
#include "link/port_handle.h"

namespace quorvale {
namespace {

using namespace std::chrono_literals;

// Asks the running application to hand over to its bootloader.
constexpr std::array<std::uint8_t, 6> EntryRequest{0x5A, 0x5A, 0x5A, 0x04, 0x3C, 0xC3};
// Sent to the bootloader, one byte per write, before the first request.
constexpr std::uint8_t WakeByte = 0x00;
constexpr int WakeSequenceLength = 20;
// Tells the bootloader the download is finished; no answer is awaited.
constexpr std::array<std::uint8_t, 5> FinishFrame{0x0E, 0x02, 0x66, 0x99, 0xF3};

constexpr auto HandOverPause = 100ms;
constexpr auto WakePause = 20ms;

constexpr std::uint32_t Succeeded = 0;
constexpr std::uint32_t Failed = 1;

std::string CopyOf(const char* text) {
    return text ? text : "";
}

bool IsErased(const std::uint8_t* block, std::uint32_t size) {
    return std::all_of(block, block + size, [](std::uint8_t b) { return b == 0xFF; });
}

std::string RateReason(const RateRefusal& refusal) {
    std::string reason = FormatText(ReasonTexts::RateRefused, refusal.asked);
    if (refusal.nearest) {
        reason += FormatText(ReasonTexts::NearestRate, *refusal.nearest);
    }
    return reason;
}

std::string LossReason(const std::string& systemWords) {
    const std::string reason = ReasonTexts::PortWentAway;
    return systemWords.empty() ? reason : reason + ": " + systemWords;
}

using Clock = std::chrono::steady_clock;

class DownloadRun {
public:
    // `applicationSettings` is asked again on every attempt.
    DownloadRun(std::string portName, std::function<LineSettings()> applicationSettings,
                const FirmwareImage& image, std::stop_token stop, const DownloadEvents& onEvent,
                LineObserver* observer)
        : m_applicationSettings(std::move(applicationSettings)),
          m_image(image),
          m_portName(std::move(portName)),
          m_stop(std::move(stop)),
          m_onEvent(onEvent),
          m_observer(observer) {}

    DownloadOutcome Execute();

private:
    void Run();
    // Each answers true to go on; false once the run has ended (failure reported, or stopped).
    bool ReachBootloader(std::uint8_t& code);
    bool HandOverToBootloader();
    bool OpenBootloaderLink();
    bool SendImage();
    bool Finish();

    bool Pause(std::chrono::milliseconds duration);
    bool Stopped() const { return m_stop.stop_requested(); }
    // Reports the failure unless a stop was requested, then lets go of the port. A port that
    // has gone makes any failure a lost port, with the step's text.
    bool Fail(FailureKind kind, const std::string& text, int systemError = 0,
              std::string reason = {});
    // The port would not open: for want of the rate, because it went away since it last
    // opened, or for the system's reason.
    bool FailToOpen(FailureKind kind, const std::string& text);
    bool FailNoHardwareCode();
    // The failure reported, else the completion, else (stopped) the cancellation.
    DownloadOutcome Result() const;

    // Events before the end are told only while the run goes on.
    void TellPhase(DownloadPhase phase);
    void TellProgress(std::uint32_t done);
    void TellEnd(const DownloadOutcome& outcome, std::uint32_t elapsedMs);
    std::uint32_t Elapsed() const;

    const std::function<LineSettings()> m_applicationSettings;
    const FirmwareImage& m_image;
    const std::string m_portName;
    const std::stop_token m_stop;
    const DownloadEvents& m_onEvent;
    LineObserver* const m_observer;
    Clock::time_point m_start = Clock::now();
    bool m_ended = false;
    PortHandle m_port;
    // The port has opened at least once in this run, so that failing to open now may mean
    // it went away.
    bool m_portOpened = false;
    DownloadOutcome m_outcome;
    bool m_completed = false;
};

DownloadOutcome DownloadRun::Execute() {
    Run();
    DownloadOutcome outcome = Result();
    if (!m_ended) {
        TellEnd(outcome, Elapsed());  // cancelled
    }
    return outcome;
}

void DownloadRun::Run() {
    m_start = Clock::now();
    TellPhase(Initiating);
    std::uint8_t code = 0;
    if (!ReachBootloader(code)) {
        return;
    }
    if (code != m_image.GetHardwareCode()) {
        Fail(FailureKind::WrongHardwareCode, FormatText(DownloadMessages::IncorrectHardwareCode,
                                                        unsigned{code}, m_portName.c_str()));
        return;
    }
    TellPhase(Connected);
    if (!SetVersionNumber(m_port, m_image.GetVersion())) {
        Fail(FailureKind::VersionRefused,
             FormatText(DownloadMessages::FailedToSetVersionNumber, unsigned{m_image.GetVersion()},
                        m_portName.c_str()));
        return;
    }
    DrainPort(m_port);
    if (SendImage()) {
        Finish();
    }
}

DownloadOutcome DownloadRun::Result() const {
    if (!m_outcome.Completed() || m_completed) {
        return m_outcome;
    }
    return {FailureKind::Cancelled, 0, DownloadMessages::DownloadCancelled, {}};
}

bool DownloadRun::ReachBootloader(std::uint8_t& code) {
    for (unsigned attempt = 0; !Stopped(); ++attempt) {
        if (attempt >= MaxAttempts) {
            return FailNoHardwareCode();
        }
        if (!HandOverToBootloader() || !OpenBootloaderLink()) {
            return false;
        }
        if (QueryHardwareCode(m_port, code)) {
            return true;
        }
        if (m_port.Lost()) {
            return FailNoHardwareCode();
        }
        ClosePort(m_port);
    }
    return false;
}

bool DownloadRun::HandOverToBootloader() {
    m_port = OpenPort(m_portName, m_applicationSettings(), m_stop, m_observer);
    if (!m_port.IsValid()) {
        return FailToOpen(
            FailureKind::OpenApplicationPort,
            FormatText(DownloadMessages::FailedToOpenApplicationPort, m_portName.c_str()));
    }
    m_portOpened = true;
    WritePort(m_port, EntryRequest.data(), EntryRequest.size());
    FlushPort(m_port);
    ClosePort(m_port);
    return Pause(HandOverPause);
}

bool DownloadRun::OpenBootloaderLink() {
    const LineSettings bootloader{m_image.GetBaudRate(), 8, Parity::None, StopBits::Two};
    m_port = OpenPort(m_portName, bootloader, m_stop, m_observer);
    if (!m_port.IsValid()) {
        return FailToOpen(FailureKind::OpenBootloaderPort,
                          FormatText(DownloadMessages::FailedToOpenPort, m_portName.c_str()));
    }
    for (int i = 0; i < WakeSequenceLength; ++i) {
        WritePort(m_port, &WakeByte, 1);
    }
    FlushPort(m_port);
    return Pause(WakePause);
}

bool DownloadRun::SendImage() {
    const std::uint32_t start = m_image.GetStartAddress();
    const std::uint32_t length = m_image.GetLength();
    const std::uint8_t* data = m_image.GetData();
    for (std::uint32_t offset = 0; offset < length;) {
        const std::uint32_t size = std::min(BlockSize, length - offset);
        const std::uint8_t* block = data + offset;
        const auto address = static_cast<std::uint16_t>(start + offset);
        if (!IsErased(block, size) &&
            !SendDataBlock(m_port, address, static_cast<std::uint16_t>(size), block)) {
            return Fail(FailureKind::BlockRefused,
                        FormatText(DownloadMessages::FailedToSendDataBlock, start + offset));
        }
        offset += size;
        TellProgress(offset);
    }
    return !Stopped();
}

bool DownloadRun::Finish() {
    // Nothing answers the finish frame, so a frame that never left, or left through a port
    // that went while it was leaving, would otherwise pass for a completed download.
    const bool sent = WritePort(m_port, FinishFrame.data(), FinishFrame.size());
    if (sent) {
        FlushPort(m_port);
    }
    if (!sent || m_port.Lost()) {
        return Fail(FailureKind::FinishFailed,
                    FormatText(DownloadMessages::FailedToFinishDownload, m_portName.c_str()));
    }
    TellProgress(m_image.GetLength());
    if (!Stopped()) {
        m_completed = true;
        // The completion and the end are one moment.
        const std::uint32_t elapsedMs = Elapsed();
        m_onEvent({.kind = DownloadEvent::Kind::Phase, .elapsedMs = elapsedMs, .phase = Completed});
        TellEnd(m_outcome, elapsedMs);
    }
    ClosePort(m_port);
    return true;
}

bool DownloadRun::Pause(std::chrono::milliseconds duration) {
    return PauseUnlessStopped(m_stop, duration);
}

bool DownloadRun::Fail(FailureKind kind, const std::string& text, int systemError,
                       std::string reason) {
    if (!Stopped()) {
        if (const auto& loss = m_port.Lost()) {
            kind = FailureKind::PortLost;
            systemError = loss->error;
            reason = LossReason(loss->words);
        }
        m_outcome = {kind, systemError, text, std::move(reason)};
        TellEnd(m_outcome, Elapsed());
    }
    ClosePort(m_port);
    return false;
}

bool DownloadRun::FailToOpen(FailureKind kind, const std::string& text) {
    if (const auto& refusal = m_port.RateRefused()) {
        return Fail(kind, text, 0, RateReason(*refusal));
    }
    const std::optional<Error>& error = m_port.OpenError();
    if (!error) {
        return Fail(kind, text);
    }
    const int code = static_cast<int>(error->Code());
    if (m_portOpened && OpenErrorMeansGone(*error)) {
        return Fail(FailureKind::PortLost, text, code, LossReason(error->Words()));
    }
    return Fail(kind, text, code, ExplainOpenError(m_portName, *error));
}

void DownloadRun::TellPhase(DownloadPhase phase) {
    if (!Stopped()) {
        m_onEvent({.kind = DownloadEvent::Kind::Phase, .elapsedMs = Elapsed(), .phase = phase});
    }
}

void DownloadRun::TellProgress(std::uint32_t done) {
    if (!Stopped()) {
        m_onEvent({.kind = DownloadEvent::Kind::Progress,
                   .elapsedMs = Elapsed(),
                   .done = done,
                   .total = m_image.GetLength()});
    }
}

void DownloadRun::TellEnd(const DownloadOutcome& outcome, std::uint32_t elapsedMs) {
    m_ended = true;
    m_onEvent({.kind = DownloadEvent::Kind::End, .elapsedMs = elapsedMs, .outcome = &outcome});
}

std::uint32_t DownloadRun::Elapsed() const {
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_start).count());
}

bool DownloadRun::FailNoHardwareCode() {
    return Fail(FailureKind::NoHardwareCode,
                FormatText(DownloadMessages::FailedToGetHardwareCode, m_portName.c_str()));
}

}  // namespace

bool PauseUnlessStopped(std::stop_token stop, std::chrono::milliseconds duration) {
    std::mutex mutex;
    std::condition_variable_any wakeUp;
    std::unique_lock lock(mutex);
    wakeUp.wait_for(lock, stop, duration, [] { return false; });
    return !stop.stop_requested();
}

static_assert(FailureKindNames.size() == std::size_t(FailureKind::Cancelled) + 1);
static_assert(FailureKindNames[std::size_t(FailureKind::PortLost)] ==
              std::string_view("port_lost"));

DownloadOutcome Download(const DownloadRequest& request, std::stop_token stop,
                         const DownloadEvents& onEvent, LineObserver* observer) {
    DownloadRun run(
        request.port, [&request] { return request.application; }, request.image, std::move(stop),
        onEvent, observer);
    return run.Execute();
}

DownloadOutcome PerformDownload(WorkerThread::Progress& progress, std::stop_token stop,
                                LineObserver* observer) {
    const FirmwareImage& image = progress.GetImage();
    std::string port = CopyOf(progress.GetPortName());
    const auto applicationSettings = [&progress] {
        LineSettings settings;
        settings.baudRate = progress.GetAppBaudRate();
        settings.dataBits = progress.GetAppDataBits();
        settings.parity = static_cast<Parity>(progress.GetAppParity());
        settings.stopBits = static_cast<StopBits>(progress.GetAppStopBits());
        return settings;
    };
    const DownloadEvents report = [&progress](const DownloadEvent& event) {
        ReportTo(progress, event);
    };
    DownloadRun run(std::move(port), applicationSettings, image, std::move(stop), report, observer);
    return run.Execute();
}

void ReportTo(WorkerThread::Progress& progress, const DownloadEvent& event) {
    switch (event.kind) {
        case DownloadEvent::Kind::Phase:
            progress.ReportPhase(event.phase);
            break;
        case DownloadEvent::Kind::Progress:
            progress.ReportProgress(event.done, event.total);
            break;
        case DownloadEvent::Kind::End:
            // A completion was its phase; a cancellation is not reported.
            if (event.outcome->Failed()) {
                progress.ReportError(event.outcome->message.c_str());
            }
            break;
    }
}

std::uint32_t DownloadWorker(WorkerThread::Progress* progress, std::stop_token stop) {
    return PerformDownload(*progress, std::move(stop)).Completed() ? Succeeded : Failed;
}

}  // namespace quorvale
