#include "download/worker.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>

#include "download/texts.h"
#include "link/bootloader.h"
#include "link/serial_port.h"

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

class DownloadRun {
public:
    DownloadRun(WorkerThread::Progress& progress, std::stop_token stop, LineObserver* observer)
        : m_progress(progress),
          m_image(progress.GetImage()),
          m_portName(CopyOf(progress.GetPortName())),
          m_stop(std::move(stop)),
          m_observer(observer) {}

    DownloadResult Execute();

private:
    // Each answers true to go on; false once the run has ended (failure reported, or stopped).
    bool ReachBootloader(std::uint8_t& code);
    bool HandOverToBootloader();
    bool OpenBootloaderLink();
    bool SendImage();
    bool Finish();

    LineSettings ReadApplicationSettings() const;
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
    DownloadResult Result() const;

    template <typename Report>
    void Tell(Report report) {
        if (!Stopped()) {
            report(m_progress);
        }
    }

    WorkerThread::Progress& m_progress;
    const FirmwareImage& m_image;
    const std::string m_portName;
    const std::stop_token m_stop;
    LineObserver* const m_observer;
    PortHandle m_port;
    // The port has opened at least once in this run, so that failing to open now may mean
    // it went away.
    bool m_portOpened = false;
    DownloadResult m_failure;
    bool m_completed = false;
};

DownloadResult DownloadRun::Execute() {
    Tell([](auto& p) { p.ReportPhase(Initiating); });
    std::uint8_t code = 0;
    if (!ReachBootloader(code)) {
        return Result();
    }
    if (code != m_image.GetHardwareCode()) {
        Fail(FailureKind::WrongHardwareCode, FormatText(DownloadMessages::IncorrectHardwareCode,
                                                        unsigned{code}, m_portName.c_str()));
        return Result();
    }
    Tell([](auto& p) { p.ReportPhase(Connected); });
    if (!SetVersionNumber(m_port, m_image.GetVersion())) {
        Fail(FailureKind::VersionRefused,
             FormatText(DownloadMessages::FailedToSetVersionNumber, unsigned{m_image.GetVersion()},
                        m_portName.c_str()));
        return Result();
    }
    DrainPort(m_port);
    if (SendImage()) {
        Finish();
    }
    return Result();
}

DownloadResult DownloadRun::Result() const {
    if (!m_failure.Completed() || m_completed) {
        return m_failure;
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
    m_port = OpenPort(m_portName, ReadApplicationSettings(), m_stop, m_observer);
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
        Tell([&](auto& p) { p.ReportProgress(offset, length); });
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
    const std::uint32_t length = m_image.GetLength();
    Tell([&](auto& p) { p.ReportProgress(length, length); });
    if (!Stopped()) {
        m_completed = true;
        m_progress.ReportPhase(Completed);
    }
    ClosePort(m_port);
    return true;
}

LineSettings DownloadRun::ReadApplicationSettings() const {
    LineSettings settings;
    settings.baudRate = m_progress.GetAppBaudRate();
    settings.dataBits = m_progress.GetAppDataBits();
    settings.parity = static_cast<Parity>(m_progress.GetAppParity());
    settings.stopBits = static_cast<StopBits>(m_progress.GetAppStopBits());
    return settings;
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
        m_failure = {kind, systemError, text, std::move(reason)};
        m_progress.ReportError(text.c_str());
    }
    ClosePort(m_port);
    return false;
}

bool DownloadRun::FailToOpen(FailureKind kind, const std::string& text) {
    if (const auto& refusal = m_port.RateRefused()) {
        return Fail(kind, text, 0, RateReason(*refusal));
    }
    const int error = m_port.OpenError();
    if (m_portOpened && OpenErrorMeansGone(error)) {
        // OpenError is an errno value on every platform.
        return Fail(FailureKind::PortLost, text, error,
                    LossReason(std::generic_category().message(error)));
    }
    return Fail(kind, text, error);
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

DownloadResult PerformDownload(WorkerThread::Progress& progress, std::stop_token stop,
                               LineObserver* observer) {
    DownloadRun run(progress, std::move(stop), observer);
    return run.Execute();
}

std::uint32_t DownloadWorker(WorkerThread::Progress* progress, std::stop_token stop) {
    return PerformDownload(*progress, std::move(stop)).Completed() ? Succeeded : Failed;
}

}  // namespace quorvale
