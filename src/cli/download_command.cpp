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

// Where the downloads' reports go: one row per port. A single download writes plain lines and
// redraws its bar in place on a terminal; several share the screen, a row each, redrawn in
// place on a terminal and prefixed with the port in a log.
class Console {
public:
    Console(bool terminal, const std::vector<std::string>& ports)
        : m_terminal(terminal), m_ports(ports) {
        if (Gang() && m_terminal) {
            for (const std::string& port : m_ports) {
                std::printf("%s:\n", port.c_str());
            }
            std::fflush(stdout);
        }
    }

    void Status(std::size_t row, const std::string& text) {
        const std::lock_guard lock(m_mutex);
        if (Gang() && m_terminal) {
            Redraw(row, text);
        } else {
            CloseBar();
            std::printf("%s%s\n", Prefix(row).c_str(), text.c_str());
        }
        std::fflush(stdout);
    }

    void Progress(std::size_t row, std::uint32_t done, std::uint32_t total, std::uint32_t elapsedMs,
                  unsigned& lastTenth) {
        const std::lock_guard lock(m_mutex);
        if (Gang() && m_terminal) {
            Redraw(row, ProgressBar(done, total, elapsedMs));
        } else if (m_terminal) {
            std::printf("\r%s", ProgressBar(done, total, elapsedMs).c_str());
            m_barOpen = true;
        } else if (const auto line = ProgressLine(done, total, elapsedMs, lastTenth)) {
            std::printf("%s%s\n", Prefix(row).c_str(), line->c_str());
        }
        std::fflush(stdout);
    }

    // Ends a bar left half drawn, so that what follows starts on a line of its own.
    void EndLine() {
        const std::lock_guard lock(m_mutex);
        CloseBar();
        std::fflush(stdout);
    }

private:
    bool Gang() const { return m_ports.size() > 1; }
    std::string Prefix(std::size_t row) const {
        return Gang() ? m_ports[row] + ": " : std::string();
    }
    void CloseBar() {
        if (m_barOpen) {
            std::printf("\n");
            m_barOpen = false;
        }
    }
    // Rewrites one row of the block the constructor laid out, then returns below the block.
    void Redraw(std::size_t row, const std::string& text) {
        const std::size_t up = m_ports.size() - row;
        std::printf("\033[%zuA\r\033[2K%s: %s\033[%zuB\r", up, m_ports[row].c_str(), text.c_str(),
                    up);
    }

    const bool m_terminal;
    const std::vector<std::string>& m_ports;
    std::mutex m_mutex;
    bool m_barOpen = false;
};

// One download's view of the console, and the inputs its worker asks for.
class ConsoleProgress final : public WorkerThread::Progress {
public:
    ConsoleProgress(const DownloadOptions& options, std::size_t row, const FirmwareImage& image,
                    Console& console)
        : m_options(options), m_row(row), m_image(image), m_console(console) {}

    const char* GetPortName() const override { return m_options.ports[m_row].c_str(); }
    std::uint32_t GetAppBaudRate() const override { return m_options.line.baudRate; }
    std::uint8_t GetAppDataBits() const override { return m_options.line.dataBits; }
    std::uint8_t GetAppParity() const override {
        return static_cast<std::uint8_t>(m_options.line.parity);
    }
    std::uint8_t GetAppStopBits() const override {
        return static_cast<std::uint8_t>(m_options.line.stopBits);
    }
    const FirmwareImage& GetImage() const override { return m_image; }

    void ReportError(const char* text) override {
        const std::lock_guard lock(m_mutex);
        m_outcome = text;
        m_elapsed = Elapsed();
    }

    void ReportPhase(DownloadPhase phase) override {
        if (phase == Initiating) {
            m_start = Clock::now();
            m_console.Status(m_row, StatusTexts::InitiatingDownload);
        } else if (phase == Completed) {
            const std::lock_guard lock(m_mutex);
            m_elapsed = Elapsed();
            m_outcome = CompletedText(m_elapsed);
            m_console.Status(m_row, m_outcome);
        }
    }

    void ReportProgress(std::uint32_t done, std::uint32_t total) override {
        m_console.Progress(m_row, done, total, Elapsed(), m_lastTenth);
    }

    // What the download came to: the completion text or the failure text, and how long it took.
    std::string Outcome() const {
        const std::lock_guard lock(m_mutex);
        return m_outcome;
    }
    std::uint32_t ElapsedMs() const {
        const std::lock_guard lock(m_mutex);
        return m_elapsed;
    }

private:
    std::uint32_t Elapsed() const {
        return static_cast<std::uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_start).count());
    }

    const DownloadOptions& m_options;
    const std::size_t m_row;
    const FirmwareImage& m_image;
    Console& m_console;
    Clock::time_point m_start = Clock::now();
    unsigned m_lastTenth = 0;
    mutable std::mutex m_mutex;
    std::string m_outcome;
    std::uint32_t m_elapsed = 0;
};

bool IsOpenFailure(const std::string& error, const std::string& port) {
    return error == FormatText(DownloadMessages::FailedToOpenApplicationPort, port.c_str()) ||
           error == FormatText(DownloadMessages::FailedToOpenPort, port.c_str());
}

// The failure text, and under it why the port could not be opened when that was the failure.
void PrintFailure(const std::string& port, const std::string& error) {
    std::fprintf(stderr, "%s\n", error.c_str());
    if (IsOpenFailure(error, port)) {
        if (const int why = ProbePortOpen(port)) {
            std::fprintf(stderr, "%s\n", ExplainOpenFailure(port, why).c_str());
        }
    }
}

void PrintSummary(const DownloadOptions& options,
                  const std::vector<std::unique_ptr<ConsoleProgress>>& progress) {
    std::size_t width = 4;
    for (const std::string& port : options.ports) {
        width = std::max(width, port.size());
    }
    const int column = static_cast<int>(width);
    std::printf("\n%-*s  %-5s  %s\n", column, "Port", "Time", "Outcome");
    for (std::size_t i = 0; i < progress.size(); ++i) {
        std::printf("%-*s  %-5s  %s\n", column, options.ports[i].c_str(),
                    ElapsedText(progress[i]->ElapsedMs()).c_str(), progress[i]->Outcome().c_str());
    }
    std::fflush(stdout);
}

}  // namespace

int RunDownload(const DownloadOptions& options) {
    const auto image = LoadFirmwareOrSayWhy(options.file);
    if (!image) {
        return ExitUsage;
    }

    Console console(::isatty(STDOUT_FILENO) != 0, options.ports);
    std::vector<std::unique_ptr<ConsoleProgress>> progress;
    for (std::size_t row = 0; row < options.ports.size(); ++row) {
        progress.push_back(std::make_unique<ConsoleProgress>(options, row, *image, console));
    }
    std::vector<std::uint32_t> results(progress.size(), 1);
    std::atomic<std::size_t> running{progress.size()};
    const pthread_t waiting = pthread_self();
    std::vector<std::jthread> workers;
    for (std::size_t i = 0; i < progress.size(); ++i) {
        workers.emplace_back([&, i](std::stop_token stop) {
            results[i] = DownloadWorker(progress[i].get(), stop);
            if (--running == 0) {
                WakeUp(waiting);
            }
        });
    }

    const bool interrupted = !IsWakeUp(WaitForSignal());
    for (std::jthread& worker : workers) {
        worker.request_stop();
        worker.join();
    }
    console.EndLine();
    if (interrupted) {
        std::fprintf(stderr, "Download cancelled\n");
        return ExitCancelled;
    }
    if (progress.size() > 1) {
        PrintSummary(options, progress);
    }
    bool allSucceeded = true;
    for (std::size_t i = 0; i < progress.size(); ++i) {
        if (results[i] != 0) {
            allSucceeded = false;
            PrintFailure(options.ports[i], progress[i]->Outcome());
        }
    }
    return allSucceeded ? ExitSuccess : ExitFailure;
}

}  // namespace quorvale::cli
