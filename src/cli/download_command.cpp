#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "cli/commands.h"
#include "cli/events.h"
#include "cli/progress_text.h"
#include "cli/signals.h"
#include "cli/trace.h"
#include "download/texts.h"
#include "download/worker.h"
#include "files/append_file.h"
#include "ports/path_watch.h"

namespace quorvale::cli {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long a port that has just appeared may refuse access (udev sets its owner and mode a
// moment after the node is made) before the download is tried anyway.
constexpr auto kSettleLimit = 2s;
constexpr auto kSettleRetry = 50ms;

constexpr char kWaitingForPort[] = "Waiting for the port";
constexpr char kWaitingForUnplug[] = "Waiting for the controller to be unplugged";

// Where the downloads' reports go for a reader: one row per port. A single download writes
// plain lines and redraws its bar in place on a terminal; several share the screen, a row
// each, redrawn in place on a terminal and prefixed with the port in a log.
class Console {
public:
    Console(bool terminal, bool redrawRows, const std::vector<std::string>& ports)
        : m_terminal(terminal),
          m_redrawRows(redrawRows && terminal && ports.size() > 1),
          m_ports(ports) {
        if (m_redrawRows) {
            for (const std::string& port : m_ports) {
                std::printf("%s:\n", port.c_str());
            }
            std::fflush(stdout);
        }
    }

    void Status(std::size_t row, const std::string& text) {
        const std::lock_guard lock(m_mutex);
        if (m_redrawRows) {
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
        if (m_redrawRows) {
            Redraw(row, ProgressBar(done, total, elapsedMs));
        } else if (m_terminal && m_ports.size() == 1) {
            std::printf("\r%s", ProgressBar(done, total, elapsedMs).c_str());
            m_barOpen = true;
        } else if (const auto line = ProgressLine(done, total, elapsedMs, lastTenth)) {
            std::printf("%s%s\n", Prefix(row).c_str(), line->c_str());
        }
        std::fflush(stdout);
    }

    // A failure said at once (a run that goes on after it), on a line of its own.
    void Failure(const std::string& text) {
        const std::lock_guard lock(m_mutex);
        CloseBar();
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", text.c_str());
    }

    // Ends a bar left half drawn, so that what follows starts on a line of its own.
    void EndLine() {
        const std::lock_guard lock(m_mutex);
        CloseBar();
        std::fflush(stdout);
    }

private:
    std::string Prefix(std::size_t row) const {
        return m_ports.size() > 1 ? m_ports[row] + ": " : std::string();
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
    const bool m_redrawRows;
    const std::vector<std::string>& m_ports;
    std::mutex m_mutex;
    bool m_barOpen = false;
};

// What every port's downloads share during one command.
struct Run {
    const DownloadOptions& options;
    const FirmwareImage& image;
    Json imageFields;
    std::string host;
    Console* console = nullptr;     // human reports; none with --json
    EventStream* events = nullptr;  // --json
    AppendFile* record = nullptr;   // --record
    TraceLog* trace = nullptr;      // --trace
};

// One download on one port: the inputs its worker asks for, and where its reports go.
class PortDownload final : public WorkerThread::Progress {
public:
    PortDownload(const Run& run, std::size_t row) : m_run(run), m_row(row) {}

    const char* GetPortName() const override { return Port().c_str(); }
    std::uint32_t GetAppBaudRate() const override { return m_run.options.line.baudRate; }
    std::uint8_t GetAppDataBits() const override { return m_run.options.line.dataBits; }
    std::uint8_t GetAppParity() const override {
        return static_cast<std::uint8_t>(m_run.options.line.parity);
    }
    std::uint8_t GetAppStopBits() const override {
        return static_cast<std::uint8_t>(m_run.options.line.stopBits);
    }
    const FirmwareImage& GetImage() const override { return m_run.image; }

    void ReportError(const char*) override {
        // The result carries the text, with its kind; the time is taken here, where it ended.
        m_elapsed = Elapsed();
    }

    void ReportPhase(DownloadPhase phase) override {
        static constexpr const char* kPhaseNames[] = {"initiating", "connected", "completed"};
        if (phase == Initiating) {
            m_start = Clock::now();
        } else if (phase == Completed) {
            m_elapsed = Elapsed();
        }
        if (m_run.events) {
            m_run.events->Emit("phase", Port(), {{"phase", kPhaseNames[phase]}});
        }
        if (m_run.console && phase == Initiating) {
            m_run.console->Status(m_row, StatusTexts::InitiatingDownload);
        } else if (m_run.console && phase == Completed) {
            m_run.console->Status(m_row, CompletedText(m_elapsed));
        }
    }

    void ReportProgress(std::uint32_t done, std::uint32_t total) override {
        m_done = done;
        if (m_run.events) {
            m_run.events->Emit("progress", Port(), {{"done", done}, {"total", total}});
        }
        if (m_run.console) {
            m_run.console->Progress(m_row, done, total, Elapsed(), m_lastTenth);
        }
    }

    // Runs the download to its end and tells the events and the record how it ended.
    DownloadResult Perform(std::stop_token stop) {
        if (m_run.events) {
            m_run.events->Emit("start", Port(), m_run.imageFields);
        }
        std::unique_ptr<PortTrace> trace;
        if (m_run.trace) {
            trace = std::make_unique<PortTrace>(*m_run.trace, Port());
        }
        m_result = PerformDownload(*this, std::move(stop), trace.get());
        if (m_result.kind == FailureKind::Cancelled) {
            m_elapsed = Elapsed();
        }
        const Json ending = Ending();
        const std::string endTime = UtcTimestamp(std::chrono::system_clock::now());
        if (m_run.events) {
            if (!m_result.Completed()) {
                m_run.events->Emit("failure", Port(), Failure(), endTime);
            }
            m_run.events->Emit("end", Port(), ending, endTime);
        }
        if (m_run.record) {
            Record(ending, endTime);
        }
        return m_result;
    }

    const DownloadResult& Result() const { return m_result; }
    std::uint32_t ElapsedMs() const { return m_elapsed; }
    // The completion text, or the failure text.
    std::string Outcome() const {
        return m_result.Completed() ? CompletedText(m_elapsed) : m_result.message;
    }
    // The failure text and, for a port that would not open, the system's reason under it.
    std::string FailureText() const {
        std::string text = m_result.message;
        if (const auto why = SystemErrorText()) {
            text += "\n" + *why;
        }
        return text;
    }

private:
    const std::string& Port() const { return m_run.options.ports[m_row]; }

    std::uint32_t Elapsed() const {
        return static_cast<std::uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_start).count());
    }

    std::optional<std::string> SystemErrorText() const {
        if (m_result.systemError == 0) {
            return std::nullopt;
        }
        return ExplainOpenFailure(Port(), m_result.systemError);
    }

    Json Failure() const {
        const auto why = SystemErrorText();
        return {{"kind", FailureKindName(m_result.kind)},
                {"message", m_result.message},
                {"system_error", why ? Json(*why) : Json(nullptr)}};
    }

    Json Ending() const {
        const double seconds = m_elapsed / 1000.0;
        const auto perSecond =
            m_elapsed ? static_cast<std::uint64_t>(m_done * 1000.0 / m_elapsed) : std::uint64_t{0};
        return {{"outcome", OutcomeName(m_result)},
                {"seconds", seconds},
                {"bytes_per_second", perSecond}};
    }

    void Record(const Json& ending, const std::string& endTime) const {
        Json line = {
            {"time", endTime},
            {"port", Port()},
            {"host", m_run.host},
        };
        line.update(m_run.imageFields);
        line.update(ending);
        line["failure_kind"] =
            m_result.Completed() ? Json(nullptr) : Json(FailureKindName(m_result.kind));
        line["message"] = m_result.Completed() ? Json(nullptr) : Json(m_result.message);
        std::string error;
        if (!m_run.record->AppendLine(JsonLine(line), error)) {
            std::fprintf(stderr, "quorvale download: %s\n", error.c_str());
        }
    }

    const Run& m_run;
    const std::size_t m_row;
    Clock::time_point m_start = Clock::now();
    unsigned m_lastTenth = 0;
    std::uint32_t m_elapsed = 0;
    std::uint32_t m_done = 0;
    DownloadResult m_result;
};

// What the ports have done so far, and whether the run is ending. A port starts a download
// only while the run goes on, so that an interrupt either finds it downloading (and cancels
// it, unless it completes first) or keeps it from starting.
class Tally {
public:
    explicit Tally(std::size_t ports) : m_ports(ports) {}

    // Whether a port may start another download.
    bool GoesOn() const {
        const std::lock_guard lock(m_mutex);
        return !m_ending;
    }
    void EndDownload(std::size_t row, const DownloadResult& result) {
        const std::lock_guard lock(m_mutex);
        const bool cancelled = result.kind == FailureKind::Cancelled;
        Count(row, result.Completed(), !result.Completed() && !cancelled);
        m_anyCancelled = m_anyCancelled || cancelled;
    }
    // A port that gave up without a download (it never appeared) counts as a failure.
    void GaveUp(std::size_t row) {
        const std::lock_guard lock(m_mutex);
        Count(row, false, true);
    }
    void End() {
        const std::lock_guard lock(m_mutex);
        m_ending = true;
    }

    bool AnyCancelled() const {
        const std::lock_guard lock(m_mutex);
        return m_anyCancelled;
    }

    bool AnyFailed() const {
        const std::lock_guard lock(m_mutex);
        for (const PortCounts& port : m_ports) {
            if (port.failed > 0) {
                return true;
            }
        }
        return false;
    }

    // "PORT: N completed, M failed", a line per port.
    void PrintSummary(const std::vector<std::string>& names) const {
        const std::lock_guard lock(m_mutex);
        for (std::size_t i = 0; i < names.size(); ++i) {
            std::fprintf(stderr, "%s: %u completed, %u failed\n", names[i].c_str(),
                         m_ports[i].completed, m_ports[i].failed);
        }
    }

private:
    struct PortCounts {
        unsigned completed = 0;
        unsigned failed = 0;
    };
    void Count(std::size_t row, bool completed, bool failed) {
        m_ports[row].completed += completed ? 1 : 0;
        m_ports[row].failed += failed ? 1 : 0;
    }

    mutable std::mutex m_mutex;
    std::vector<PortCounts> m_ports;
    bool m_ending = false;
    bool m_anyCancelled = false;
};

// Errors of a port that has only just appeared and is not ready for us yet: udev gives the node
// its group and mode a moment after making it, and a modem manager may be probing it.
bool SettlingError(int error) {
    return error == EACCES || error == EPERM || error == EBUSY || error == ENOENT ||
           error == ENXIO || error == ENODEV || error == EIO;
}

// Waits, briefly, until a port that has just appeared can be opened; the download then says
// why if it still can't.
void LetNewPortSettle(const std::string& port, std::stop_token stop) {
    const auto deadline = Clock::now() + kSettleLimit;
    while (SettlingError(ProbePortOpen(port)) && Clock::now() < deadline) {
        if (!PauseUnlessStopped(stop, kSettleRetry)) {
            return;
        }
    }
}

// One port's part of the command: wait for it when asked, download, and with --repeat do it
// again for each controller plugged in, until the stop.
class PortLoop {
public:
    PortLoop(const Run& run, Tally& tally, std::size_t row)
        : m_run(run), m_tally(tally), m_row(row) {}

    void Serve(std::stop_token stop) {
        const DownloadOptions& options = m_run.options;
        if (options.wait && !AwaitPlug(stop, FirstDeadline())) {
            return;
        }
        for (;;) {
            // Taken before the download, so that a controller that replaces this one while
            // the download ends is told from it.
            const std::optional<PathStamp> plugged = StampPath(Port());
            if (!m_tally.GoesOn()) {
                return;
            }
            m_last = std::make_unique<PortDownload>(m_run, m_row);
            const DownloadResult result = m_last->Perform(stop);
            m_tally.EndDownload(m_row, result);
            if (!options.repeat) {
                return;
            }
            // The run goes on, so a failure is said now rather than at the end.
            if (!result.Completed() && result.kind != FailureKind::Cancelled) {
                SayFailure(m_last->FailureText());
            }
            if (stop.stop_requested() || !AwaitUnplug(plugged, stop) ||
                !AwaitPlug(stop, std::nullopt)) {
                return;
            }
        }
    }

    // The last download, if one ran.
    const PortDownload* Last() const { return m_last.get(); }

private:
    using Deadline = std::optional<Clock::time_point>;

    const std::string& Port() const { return m_run.options.ports[m_row]; }

    void SayFailure(const std::string& text) const {
        if (m_run.console) {
            m_run.console->Failure(text);
        } else {
            std::fprintf(stderr, "%s\n", text.c_str());
        }
    }

    // --wait-timeout bounds the wait for the port's first appearance only: with --repeat, a
    // station left idle between controllers keeps waiting.
    Deadline FirstDeadline() const {
        if (!m_run.options.waitTimeoutSeconds) {
            return std::nullopt;
        }
        return Clock::now() + std::chrono::milliseconds(static_cast<std::int64_t>(
                                  *m_run.options.waitTimeoutSeconds * 1000));
    }

    // Waits for the port to appear and settle; false when the port is done with. A port that
    // goes again while it settles is waited for again, within the same deadline.
    bool AwaitPlug(std::stop_token stop, Deadline deadline) {
        while (!PathExists(Port())) {
            ShowStatus(kWaitingForPort);
            std::optional<std::chrono::milliseconds> limit;
            if (deadline) {
                limit = std::max(
                    std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()),
                    std::chrono::milliseconds(0));
            }
            if (!Waited(WaitForPath(Port(), true, stop, limit, m_error))) {
                return false;
            }
            LetNewPortSettle(Port(), stop);
        }
        return !stop.stop_requested();
    }

    // Waits for the controller that had the stamp `plugged` to go; false when the port is
    // done with. The next one may be in already (a quick hand, or a port that went while its
    // failed download was being recorded): then it is given its moment to settle.
    bool AwaitUnplug(const std::optional<PathStamp>& plugged, std::stop_token stop) {
        const auto now = StampPath(Port());
        if (now && now == plugged) {
            ShowStatus(kWaitingForUnplug);
            if (!Waited(WaitForPath(Port(), false, stop, std::nullopt, m_error, plugged))) {
                return false;
            }
        }
        if (PathExists(Port())) {
            LetNewPortSettle(Port(), stop);
        }
        return !stop.stop_requested();
    }

    // Says why a wait gave up; false when the port is done with.
    bool Waited(PathWait outcome) {
        switch (outcome) {
            case PathWait::Reached:
                return true;
            case PathWait::Stopped:
                return false;
            case PathWait::TimedOut:
                std::fprintf(stderr, "Port '%s' did not appear within %g seconds\n", Port().c_str(),
                             *m_run.options.waitTimeoutSeconds);
                break;
            case PathWait::Failed:
                std::fprintf(stderr, "Cannot watch for port '%s': %s\n", Port().c_str(),
                             std::strerror(m_error));
                break;
        }
        m_tally.GaveUp(m_row);
        return false;
    }

    void ShowStatus(const char* text) const {
        if (m_run.console) {
            m_run.console->Status(m_row, text);
        }
    }

    const Run& m_run;
    Tally& m_tally;
    const std::size_t m_row;
    std::unique_ptr<PortDownload> m_last;
    int m_error = 0;
};

// The closing table of a gang download: port, time, outcome.
void PrintTable(std::FILE* out, const DownloadOptions& options,
                const std::vector<std::unique_ptr<PortLoop>>& loops) {
    std::size_t width = 4;
    for (const std::string& port : options.ports) {
        width = std::max(width, port.size());
    }
    const int column = static_cast<int>(width);
    std::fprintf(out, "\n%-*s  %-5s  %s\n", column, "Port", "Time", "Outcome");
    for (std::size_t i = 0; i < loops.size(); ++i) {
        const PortDownload* last = loops[i]->Last();
        std::fprintf(out, "%-*s  %-5s  %s\n", column, options.ports[i].c_str(),
                     ElapsedText(last ? last->ElapsedMs() : 0).c_str(),
                     last ? last->Outcome().c_str() : "");
    }
    std::fflush(out);
}

// Opens what the options ask to write beside the downloads; false, having said why, when
// one of them can't be.
template <typename File, typename... Args>
bool OpenOutput(const std::optional<std::string>& path, std::unique_ptr<File>& file, Args... args) {
    if (!path) {
        return true;
    }
    std::string error;
    file = File::Open(*path, args..., error);
    if (!file) {
        std::fprintf(stderr, "quorvale download: %s\n", error.c_str());
        return false;
    }
    return true;
}

// A station is given a name per socket; a kernel name goes to whichever adapter comes next.
void NoteKernelNames(const std::vector<std::string>& ports) {
    for (const std::string& port : ports) {
        if (port.starts_with("/dev/tty")) {
            std::fprintf(stderr,
                         "Note: the kernel gives '%s' to whichever adapter comes next; a "
                         "/dev/serial/by-path link names the USB socket\n",
                         port.c_str());
        }
    }
}

// Runs each port's loop on a thread of its own until every loop has ended or a signal comes,
// then stops them all; answers whether a signal ended the run.
bool RunLoops(const std::vector<std::unique_ptr<PortLoop>>& loops, Tally& tally) {
    std::atomic<std::size_t> running{loops.size()};
    const pthread_t waiting = pthread_self();
    std::vector<std::jthread> threads;
    for (const auto& loop : loops) {
        threads.emplace_back([&, port = loop.get()](std::stop_token stop) {
            port->Serve(stop);
            if (--running == 0) {
                WakeUp(waiting);
            }
        });
    }
    const bool interrupted = !IsWakeUp(WaitForSignal());
    tally.End();
    // Every port is told at once; then each is waited for.
    for (std::jthread& thread : threads) {
        thread.request_stop();
    }
    for (std::jthread& thread : threads) {
        thread.join();
    }
    return interrupted;
}

// The closing words and the exit code: with --repeat a count per port; otherwise the gang's
// table and the failures.
int Conclude(const DownloadOptions& options, const Tally& tally,
             const std::vector<std::unique_ptr<PortLoop>>& loops, bool interrupted) {
    if (options.repeat) {
        tally.PrintSummary(options.ports);
        if (tally.AnyCancelled()) {
            return ExitCancelled;
        }
        return tally.AnyFailed() ? ExitFailure : ExitSuccess;
    }
    if (interrupted) {
        std::fprintf(stderr, "%s\n", DownloadMessages::DownloadCancelled);
        return ExitCancelled;
    }
    if (options.ports.size() > 1) {
        PrintTable(options.json ? stderr : stdout, options, loops);
    }
    for (const auto& loop : loops) {
        if (const PortDownload* last = loop->Last(); last && !last->Result().Completed()) {
            std::fprintf(stderr, "%s\n", last->FailureText().c_str());
        }
    }
    return tally.AnyFailed() ? ExitFailure : ExitSuccess;
}

}  // namespace

int RunDownload(const DownloadOptions& options) {
    const auto commandStart = Clock::now();
    const auto image = LoadFirmwareOrSayWhy(options.file);
    if (!image) {
        return ExitUsage;
    }
    std::unique_ptr<AppendFile> record;
    std::unique_ptr<TraceLog> trace;
    if (!OpenOutput(options.recordFile, record) ||
        !OpenOutput(options.traceFile, trace, commandStart)) {
        return ExitUsage;
    }

    if (options.repeat) {
        NoteKernelNames(options.ports);
    }
    std::unique_ptr<Console> console;
    std::unique_ptr<EventStream> events;
    if (options.json) {
        events = std::make_unique<EventStream>(stdout);
    } else {
        console =
            std::make_unique<Console>(::isatty(STDOUT_FILENO) != 0, !options.repeat, options.ports);
    }
    // Only events and records show the file's digest, so only they pay for it.
    const bool reportsFile = events || record;
    const Run run{options,
                  *image,
                  reportsFile ? ImageFields(options.file, *image) : Json::object(),
                  HostName(),
                  console.get(),
                  events.get(),
                  record.get(),
                  trace.get()};

    Tally tally(options.ports.size());
    std::vector<std::unique_ptr<PortLoop>> loops;
    for (std::size_t row = 0; row < options.ports.size(); ++row) {
        loops.push_back(std::make_unique<PortLoop>(run, tally, row));
    }
    const bool interrupted = RunLoops(loops, tally);
    if (console) {
        console->EndLine();
    }
    return Conclude(options, tally, loops, interrupted);
}

}  // namespace quorvale::cli
