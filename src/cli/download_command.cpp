#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "cli/commands.h"
#include "cli/progress_text.h"
#include "cli/signals.h"
#include "download/texts.h"
#include "download/worker.h"

namespace quorvale::cli {
namespace {

using Clock = std::chrono::steady_clock;

// Shows a download on the console: phases and the final text on their own lines, progress
// as a bar redrawn in place on a terminal or as a line per tenth in a log.
class ConsoleProgress final : public WorkerThread::Progress {
public:
    ConsoleProgress(const DownloadOptions& options, const FirmwareImage& image, bool terminal)
        : m_options(options), m_image(image), m_terminal(terminal) {}

    const char* GetPortName() const override { return m_options.port.c_str(); }
    std::uint32_t GetAppBaudRate() const override { return m_options.line.baudRate; }
    std::uint8_t GetAppDataBits() const override { return m_options.line.dataBits; }
    std::uint8_t GetAppParity() const override { return m_options.line.parity; }
    std::uint8_t GetAppStopBits() const override { return m_options.line.stopBits; }
    const FirmwareImage& GetImage() const override { return m_image; }

    void ReportError(const char* text) override {
        const std::lock_guard lock(m_mutex);
        m_error = text;
    }

    void ReportPhase(DownloadPhase phase) override {
        const std::lock_guard lock(m_mutex);
        if (phase == Initiating) {
            m_start = Clock::now();
            PrintLine(StatusTexts::InitiatingDownload);
        } else if (phase == Completed) {
            PrintLine(CompletedText(Elapsed()));
        }
    }

    void ReportProgress(std::uint32_t done, std::uint32_t total) override {
        const std::lock_guard lock(m_mutex);
        if (m_terminal) {
            std::printf("\r%s", ProgressBar(done, total, Elapsed()).c_str());
            std::fflush(stdout);
            m_lineOpen = true;
        } else if (const auto line = ProgressLine(done, total, Elapsed(), m_lastTenth)) {
            PrintLine(*line);
        }
    }

    // Ends a bar left half drawn, so that what follows starts on a line of its own.
    void EndLine() {
        const std::lock_guard lock(m_mutex);
        CloseBar();
    }

    std::string Error() const {
        const std::lock_guard lock(m_mutex);
        return m_error;
    }

private:
    std::uint32_t Elapsed() const {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_start);
        return static_cast<std::uint32_t>(elapsed.count());
    }
    void CloseBar() {
        if (m_lineOpen) {
            std::printf("\n");
            m_lineOpen = false;
        }
        std::fflush(stdout);
    }
    void PrintLine(const std::string& text) {
        CloseBar();
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
    }

    const DownloadOptions& m_options;
    const FirmwareImage& m_image;
    const bool m_terminal;
    mutable std::mutex m_mutex;
    Clock::time_point m_start = Clock::now();
    unsigned m_lastTenth = 0;
    bool m_lineOpen = false;
    std::string m_error;
};

bool IsOpenFailure(const std::string& error, const std::string& port) {
    return error == FormatText(DownloadMessages::FailedToOpenApplicationPort, port.c_str()) ||
           error == FormatText(DownloadMessages::FailedToOpenPort, port.c_str());
}

}  // namespace

int RunDownload(const DownloadOptions& options) {
    const auto image = std::make_unique<FirmwareImage>();
    const LoadResult loaded = image->Load(options.file);
    if (loaded != LoadOk) {
        std::fprintf(stderr, "%s\n", LoadResultMessage(loaded, options.file).c_str());
        return ExitUsage;
    }

    ConsoleProgress progress(options, *image, ::isatty(STDOUT_FILENO) != 0);
    std::atomic<std::uint32_t> result{1};
    const pthread_t waiting = pthread_self();
    std::jthread worker([&](std::stop_token stop) {
        result = DownloadWorker(&progress, stop);
        WakeUp(waiting);
    });

    if (!IsWakeUp(WaitForSignal())) {
        worker.request_stop();
        worker.join();
        progress.EndLine();
        std::fprintf(stderr, "Download cancelled\n");
        return ExitCancelled;
    }
    worker.join();
    progress.EndLine();
    if (result == 0) {
        return ExitSuccess;
    }
    const std::string error = progress.Error();
    std::fprintf(stderr, "%s\n", error.c_str());
    if (IsOpenFailure(error, options.port)) {
        if (const int why = ProbePortOpen(options.port)) {
            std::fprintf(stderr, "%s\n", ExplainOpenFailure(options.port, why).c_str());
        }
    }
    return ExitFailure;
}

}  // namespace quorvale::cli
