// SPDX-License-Identifier: Apache-2.0
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "cli/commands.h"
#include "cli/events.h"
#include "cli/progress_text.h"
#include "cli/trace.h"
#include "download/session.h"
#include "download/texts.h"
#include "jobs/job_file.h"
#include "production/ending_signals.h"
#include "production/host.h"
#include "production/slot_loop.h"
#include "records/record_target.h"

namespace quorvale::cli {
namespace {

constexpr char kWaitingForPort[] = "Waiting for the port";
constexpr char kWaitingForUnplug[] = "Waiting for the controller to be unplugged";
constexpr char kRecordsWait[] =
    "quorvale download: %zu record%s wait%s in the spool for %s%s%s; "
    "`quorvale records push` sends them";

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

    // `lastDrawn` is when this port's bar was last drawn, on the download's own clock.
    void Progress(std::size_t row, std::uint32_t done, std::uint32_t total, std::uint32_t elapsedMs,
                  unsigned& lastTenth, std::optional<std::uint32_t>& lastDrawn) {
        const std::lock_guard lock(m_mutex);
        const bool bar = m_redrawRows || (m_terminal && m_ports.size() == 1);
        // Each redraw is a write to the terminal between a reply and the next request; a bar
        // drawn a few times a second reads the same, and its end is always drawn.
        if (bar && done != total && lastDrawn && elapsedMs - *lastDrawn < kRedrawIntervalMs) {
            return;
        }
        if (bar) {
            lastDrawn = elapsedMs;
        }
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

    static constexpr std::uint32_t kRedrawIntervalMs = 50;
    const bool m_terminal;
    const bool m_redrawRows;
    const std::vector<std::string>& m_ports;
    std::mutex m_mutex;
    bool m_barOpen = false;
};

// What every port's reports share during one command.
struct Outputs {
    const DownloadOptions& options;
    const Json& imageFields;        // the `start` events' fields: the run's own
    Console* console = nullptr;     // human reports; none with --json
    EventStream* events = nullptr;  // --json
    TraceLog* trace = nullptr;      // --trace
};

// One port's reports: to the console or the events, and its line to the trace.
class PortReports final : public SlotReports {
public:
    PortReports(const Outputs& out, std::size_t row) : m_out(out), m_row(row) {}

    void Waiting(SlotWait what) override {
        if (m_out.console) {
            m_out.console->Status(
                m_row, what == SlotWait::ForController ? kWaitingForPort : kWaitingForUnplug);
        }
    }

    LineObserver* Starting() override {
        m_lastTenth = 0;
        m_lastDrawn.reset();
        if (m_out.events) {
            m_out.events->Emit("start", Port(), m_out.imageFields);
        }
        if (m_out.trace) {
            m_trace = std::make_unique<PortTrace>(*m_out.trace, Port());
        }
        return m_trace.get();
    }

    void Event(const DownloadEvent& event) override {
        if (event.kind == DownloadEvent::Kind::Phase) {
            Phase(event.phase, event.elapsedMs);
        } else if (event.kind == DownloadEvent::Kind::Progress) {
            Progress(event.done, event.total, event.elapsedMs);
        }
    }

    void Ended(const SlotOutcome& outcome) override {
        m_trace.reset();
        const bool failed = !outcome.result.Completed();
        if (m_out.events) {
            if (failed) {
                m_out.events->Emit("failure", Port(), outcome.FailureFields(), outcome.endTime);
            }
            m_out.events->Emit("end", Port(), outcome.EndingFields(), outcome.endTime);
        }
        // With --repeat the run goes on, so a failure is said now rather than at the end.
        if (m_out.options.repeat && outcome.result.Failed()) {
            SayFailure(outcome.FailureText());
        }
    }

    void RecordFailed(const std::string& error) override {
        std::fprintf(stderr, "quorvale download: %s\n", error.c_str());
    }

    void GaveUp(const std::string& why) override { std::fprintf(stderr, "%s\n", why.c_str()); }

private:
    void Phase(DownloadPhase phase, std::uint32_t elapsedMs) {
        static constexpr const char* kPhaseNames[] = {"initiating", "connected", "completed"};
        if (m_out.events) {
            m_out.events->Emit("phase", Port(), {{"phase", kPhaseNames[phase]}});
        }
        if (m_out.console && phase == Initiating) {
            m_out.console->Status(m_row, StatusTexts::InitiatingDownload);
        } else if (m_out.console && phase == Completed) {
            m_out.console->Status(m_row, CompletedText(elapsedMs));
        }
    }

    void Progress(std::uint32_t done, std::uint32_t total, std::uint32_t elapsedMs) {
        if (m_out.events) {
            m_out.events->Emit("progress", Port(), {{"done", done}, {"total", total}});
        }
        if (m_out.console) {
            m_out.console->Progress(m_row, done, total, elapsedMs, m_lastTenth, m_lastDrawn);
        }
    }

    const std::string& Port() const { return m_out.options.ports[m_row]; }

    void SayFailure(const std::string& text) const {
        if (m_out.console) {
            m_out.console->Failure(text);
        } else {
            std::fprintf(stderr, "%s\n", text.c_str());
        }
    }

    const Outputs& m_out;
    const std::size_t m_row;
    unsigned m_lastTenth = 0;
    std::optional<std::uint32_t> m_lastDrawn;
    std::unique_ptr<PortTrace> m_trace;
};

// The closing table of a gang download: port, time, outcome.
void PrintTable(std::FILE* out, const std::vector<std::unique_ptr<SlotLoop>>& loops) {
    std::size_t width = 4;
    for (const auto& loop : loops) {
        width = std::max(width, loop->Port().size());
    }
    const int column = static_cast<int>(width);
    std::fprintf(out, "\n%-*s  %-5s  %s\n", column, "Port", "Time", "Outcome");
    for (const auto& loop : loops) {
        const auto& last = loop->Last();
        std::fprintf(out, "%-*s  %-5s  %s\n", column, loop->Port().c_str(),
                     ElapsedText(last ? last->elapsedMs : 0).c_str(),
                     last ? last->Text().c_str() : "");
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
    auto opened = File::Open(*path, args...);
    if (!opened) {
        std::fprintf(stderr, "quorvale download: %s\n", opened.error().Words().c_str());
        return false;
    }
    file = std::move(*opened);
    return true;
}

// Opens the record the options name; false, having said why, when it can't be.
bool OpenRecord(const std::optional<std::string>& where, std::unique_ptr<RecordTarget>& record) {
    if (!where) {
        return true;
    }
    auto opened = OpenRecordTarget(*where);
    if (!opened) {
        std::fprintf(stderr, "quorvale download: %s\n", opened.error().Words().c_str());
        return false;
    }
    record = std::move(*opened);
    return true;
}

// Records a server did not take in time are safe in the spool; the user is told, with the
// server's reason when it refused them, so that a wrong address or password is not missed.
// False while a send is still under way on the record's own thread.
bool CloseRecord(RecordTarget* record, const std::optional<std::string>& where) {
    if (!record) {
        return true;
    }
    const bool closed = record->Close();
    const std::size_t waiting = record->Waiting();
    if (waiting == 0) {
        return closed;
    }
    const std::string problem = record->Problem();
    const bool one = waiting == 1;
    std::fprintf(stderr, kRecordsWait, waiting, one ? "" : "s", one ? "s" : "",
                 RecordShown(*where).c_str(), problem.empty() ? "" : ": ", problem.c_str());
    std::fputc('\n', stderr);
    return closed;
}

// A station is given a name per socket; a kernel name goes to whichever adapter comes next.
void NoteKernelNames(const std::vector<std::string>& ports) {
    for (const std::string& port : ports) {
        if (const auto note = KernelNameNote(port)) {
            std::fprintf(stderr, "%s\n", note->c_str());
        }
    }
}

// Runs each port's loop on a thread of its own until every loop has ended or a signal comes,
// then stops them all; answers whether a signal ended the run.
bool RunLoops(const std::vector<std::unique_ptr<SlotLoop>>& loops, Tally& tally,
              EndingSignals& signals) {
    std::vector<SlotLoop*> serving;
    for (const auto& loop : loops) {
        serving.push_back(loop.get());
    }
    SlotThreads threads(serving, tally, [&signals] { signals.Wake(); });
    const bool interrupted = signals.Wait();
    threads.Stop();
    return interrupted;
}

// The closing words and the exit code: with --repeat a count per port; otherwise the gang's
// table and the failures.
int Conclude(const DownloadOptions& options, const Tally& tally,
             const std::vector<std::unique_ptr<SlotLoop>>& loops, bool interrupted) {
    if (options.repeat) {
        for (std::size_t i = 0; i < loops.size(); ++i) {
            const Tally::Counts counts = tally.Of(i);
            std::fprintf(stderr, "%s: %u completed, %u failed\n", loops[i]->Port().c_str(),
                         counts.completed, counts.failed);
        }
        if (tally.AnyCancelled()) {
            return ExitCancelled;
        }
        return tally.AnyFailed() ? ExitFailure : ExitSuccess;
    }
    if (interrupted) {
        std::fprintf(stderr, "%s\n", DownloadMessages::DownloadCancelled);
        return ExitCancelled;
    }
    if (loops.size() > 1) {
        PrintTable(options.json ? stderr : stdout, loops);
    }
    for (const auto& loop : loops) {
        if (const auto& last = loop->Last(); last && !last->result.Completed()) {
            std::fprintf(stderr, "%s\n", last->FailureText().c_str());
        }
    }
    return tally.AnyFailed() ? ExitFailure : ExitSuccess;
}

// What the downloads send: the firmware file given, or the one a signed job carries with its
// line settings.
struct Firmware {
    std::unique_ptr<FirmwareImage> image;
    std::string file;
    LineSettings line;
    Json jobFields;
};

// Nothing, having said why, when the file or the job is refused or not allowed here.
std::optional<Firmware> ChooseFirmware(const DownloadOptions& options) {
    const auto say = [](const std::string& words) {
        std::fprintf(stderr, "quorvale download: %s\n", words.c_str());
        return std::nullopt;
    };
    const auto lock = ReadStationLock();
    if (!lock) {
        return say(lock.error().Words());
    }
    if (const auto refusal =
            ChoiceRefusal({options.file, options.job, options.trust, options.lineOptionsGiven},
                          lock->locked, lock->folder)) {
        return say(*refusal);
    }
    if (!options.job) {
        auto image = LoadFirmwareOrSayWhy(options.file);
        if (!image) {
            return std::nullopt;
        }
        return Firmware{std::move(image), options.file, options.line, JobFields(std::nullopt)};
    }
    auto opened = OpenJobFile(*options.job, options.trust, *lock);
    if (!opened) {
        return say(opened.error().Words());
    }
    const Job& job = opened->job;
    return Firmware{std::move(opened->image), job.firmwareFile, job.line, JobFields(RecordOf(job))};
}

// The downloads, their outputs and their records; `record` is opened here, after the firmware
// is chosen, and left to the caller to close once everything else is done with.
int DownloadAndRecord(const DownloadOptions& options, EndingSignals& signals,
                      std::unique_ptr<RecordTarget>& record) {
    const auto commandStart = std::chrono::steady_clock::now();
    const auto firmware = ChooseFirmware(options);
    if (!firmware) {
        return ExitUsage;
    }
    const FirmwareImage* image = firmware->image.get();
    std::unique_ptr<TraceLog> trace;
    if (!OpenRecord(options.recordFile, record) ||
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
    const SlotRun run{*image,
                      firmware->line,
                      events || record ? ImageFields(firmware->file, *image) : Json::object(),
                      HostName(),
                      record.get(),
                      options.wait,
                      options.repeat,
                      options.waitTimeoutSeconds,
                      firmware->jobFields};
    const Outputs outputs{options, run.imageFields, console.get(), events.get(), trace.get()};

    Tally tally(options.ports.size());
    std::vector<std::unique_ptr<PortReports>> reports;
    std::vector<std::unique_ptr<SlotLoop>> loops;
    for (std::size_t row = 0; row < options.ports.size(); ++row) {
        reports.push_back(std::make_unique<PortReports>(outputs, row));
        loops.push_back(
            std::make_unique<SlotLoop>(run, tally, row, options.ports[row], *reports.back()));
    }
    const bool interrupted = RunLoops(loops, tally, signals);
    if (console) {
        console->EndLine();
    }
    return Conclude(options, tally, loops, interrupted);
}

}  // namespace

int RunDownload(const DownloadOptions& options, EndingSignals& signals) {
    std::unique_ptr<RecordTarget> record;
    const int exitCode = DownloadAndRecord(options, signals, record);
    if (!CloseRecord(record.get(), options.recordFile)) {
        // A server that does not answer holds the record's thread: the process ends now,
        // without the libraries' exit handlers, which would free what that thread uses.
        std::fflush(nullptr);
        std::_Exit(exitCode);
    }
    return exitCode;
}

}  // namespace quorvale::cli
