// SPDX-License-Identifier: Apache-2.0
#include "production/slot_loop.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "download/texts.h"
#include "download/worker.h"
#include "link/port_handle.h"
#include "production/timestamp.h"

namespace quorvale {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long a port that has just appeared may refuse access (udev sets its owner and mode a
// moment after the node is made) before the download is tried anyway.
constexpr auto kSettleLimit = 2s;
constexpr auto kSettleRetry = 50ms;

// Errors of a port that has only just appeared and is not ready for us yet: udev gives the node
// its group and mode a moment after making it, and a modem manager may be probing it.
bool SettlingError(const std::optional<Error>& error) {
    if (!error) {
        return false;
    }
    switch (error->Kind()) {
        case ErrorKind::AccessDenied:
        case ErrorKind::Busy:
        case ErrorKind::NotFound:
        case ErrorKind::Gone:
            return true;
        default:
            return false;
    }
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

// One download on one slot: its events passed on, and what it came to.
SlotOutcome PerformOnSlot(const SlotRun& run, const std::string& port, SlotReports& reports,
                          std::stop_token stop) {
    SlotOutcome outcome;
    LineObserver* observer = reports.Starting();
    const DownloadEvents onEvent = [&](const DownloadEvent& event) {
        if (event.kind == DownloadEvent::Kind::End) {
            outcome.elapsedMs = event.elapsedMs;
            return;
        }
        if (event.kind == DownloadEvent::Kind::Progress) {
            outcome.bytesDone = event.done;
        }
        reports.Event(event);
    };
    outcome.result = Download({port, run.line, run.image}, std::move(stop), onEvent, observer);
    outcome.endTime = UtcTimestamp(std::chrono::system_clock::now());
    if (!outcome.result.reason.empty()) {
        outcome.systemErrorText = outcome.result.reason;
    }
    return outcome;
}

}  // namespace

std::optional<std::string> KernelNameNote(const std::string& port) {
    if (!port.starts_with("/dev/tty")) {
        return std::nullopt;
    }
    return "Note: the kernel gives '" + port +
           "' to whichever adapter comes next; a /dev/serial/by-path link names the USB socket";
}

std::string SlotOutcome::Text() const {
    return result.Completed() ? CompletedText(elapsedMs) : result.message;
}

std::string SlotOutcome::FailureText() const {
    return systemErrorText ? result.message + "\n" + *systemErrorText : result.message;
}

Json SlotOutcome::EndingFields() const {
    const auto perSecond =
        elapsedMs ? static_cast<std::uint64_t>(bytesDone * 1000.0 / elapsedMs) : std::uint64_t{0};
    return {{"outcome", OutcomeName(result)},
            {"seconds", elapsedMs / 1000.0},
            {"bytes_per_second", perSecond}};
}

Json SlotOutcome::FailureFields() const {
    return {{"kind", FailureKindName(result.kind)},
            {"message", result.message},
            {"system_error", systemErrorText ? Json(*systemErrorText) : Json(nullptr)}};
}

Json SlotOutcome::RecordFields(const SlotRun& run, const std::string& port) const {
    Json line = {{"time", endTime}, {"port", port}, {"host", run.host}};
    line.update(run.imageFields);
    line.update(run.jobFields);
    line.update(EndingFields());
    line["failure_kind"] = result.Completed() ? Json(nullptr) : Json(FailureKindName(result.kind));
    line["message"] = result.Completed() ? Json(nullptr) : Json(result.message);
    return line;
}

bool Tally::GoesOn() const {
    const std::lock_guard lock(m_mutex);
    return !m_ending;
}

void Tally::End() {
    const std::lock_guard lock(m_mutex);
    m_ending = true;
}

void Tally::EndDownload(std::size_t slot, const DownloadOutcome& result) {
    const std::lock_guard lock(m_mutex);
    const bool cancelled = result.kind == FailureKind::Cancelled;
    m_slots[slot].completed += result.Completed() ? 1 : 0;
    m_slots[slot].failed += !result.Completed() && !cancelled ? 1 : 0;
    m_anyCancelled = m_anyCancelled || cancelled;
}

void Tally::GaveUp(std::size_t slot) {
    const std::lock_guard lock(m_mutex);
    ++m_slots[slot].failed;
}

Tally::Counts Tally::Of(std::size_t slot) const {
    const std::lock_guard lock(m_mutex);
    return m_slots[slot];
}

bool Tally::AnyCancelled() const {
    const std::lock_guard lock(m_mutex);
    return m_anyCancelled;
}

bool Tally::AnyFailed() const {
    const std::lock_guard lock(m_mutex);
    for (const Counts& slot : m_slots) {
        if (slot.failed > 0) {
            return true;
        }
    }
    return false;
}

SlotLoop::SlotLoop(const SlotRun& run, Tally& tally, std::size_t index, std::string port,
                   SlotReports& reports)
    : m_run(run), m_tally(tally), m_index(index), m_port(std::move(port)), m_reports(reports) {}

void SlotLoop::Serve(std::stop_token stop) {
    if (m_run.wait && !AwaitPlug(stop, FirstDeadline())) {
        return;
    }
    for (;;) {
        // Taken before the download, so that a controller that replaces this one while the
        // download ends is told from it.
        const std::optional<PathStamp> plugged = StampPath(m_port);
        if (!m_tally.GoesOn()) {
            return;
        }
        Download(stop);
        if (!m_run.repeat || stop.stop_requested() || !AwaitUnplug(plugged, stop) ||
            !AwaitPlug(stop, std::nullopt)) {
            return;
        }
    }
}

void SlotLoop::Download(std::stop_token stop) {
    m_last = PerformOnSlot(m_run, m_port, m_reports, std::move(stop));
    m_tally.EndDownload(m_index, m_last->result);
    m_reports.Ended(*m_last);
    Record(*m_last);
}

void SlotLoop::Record(const SlotOutcome& outcome) {
    if (!m_run.record) {
        return;
    }
    if (const Status kept = m_run.record->Write(outcome.RecordFields(m_run, m_port)); !kept) {
        m_reports.RecordFailed(kept.error().Words());
    }
}

SlotLoop::Deadline SlotLoop::FirstDeadline() const {
    if (!m_run.firstWaitSeconds) {
        return std::nullopt;
    }
    return Clock::now() +
           std::chrono::milliseconds(static_cast<std::int64_t>(*m_run.firstWaitSeconds * 1000));
}

// Waits for the port to appear and settle; false when the slot is done with. A port that goes
// again while it settles is waited for again, within the same deadline.
bool SlotLoop::AwaitPlug(std::stop_token stop, Deadline deadline) {
    while (!PathExists(m_port)) {
        m_reports.Waiting(SlotWait::ForController);
        std::optional<std::chrono::milliseconds> limit;
        if (deadline) {
            limit = std::max(
                std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()),
                std::chrono::milliseconds(0));
        }
        if (!Waited(WaitForPath(m_port, true, stop, limit))) {
            return false;
        }
        LetNewPortSettle(m_port, stop);
    }
    return !stop.stop_requested();
}

// Waits for the controller that had the stamp `plugged` to go; false when the slot is done
// with. The next one may be in already (a quick hand, or a port that went while its failed
// download was being recorded): then it is given its moment to settle.
bool SlotLoop::AwaitUnplug(const std::optional<PathStamp>& plugged, std::stop_token stop) {
    const auto now = StampPath(m_port);
    if (now && now == plugged) {
        m_reports.Waiting(SlotWait::ForUnplug);
        if (!Waited(WaitForPath(m_port, false, stop, std::nullopt, plugged))) {
            return false;
        }
    }
    if (PathExists(m_port)) {
        LetNewPortSettle(m_port, stop);
    }
    return !stop.stop_requested();
}

// Says why a wait gave up; false when the slot is done with.
bool SlotLoop::Waited(const Result<PathWait>& outcome) {
    char why[512] = {};
    if (!outcome) {
        std::snprintf(why, sizeof why, "Cannot watch for port '%s': %s", m_port.c_str(),
                      outcome.error().Words().c_str());
        m_tally.GaveUp(m_index);
        m_reports.GaveUp(why);
        return false;
    }
    switch (*outcome) {
        case PathWait::Reached:
            return true;
        case PathWait::Stopped:
            return false;
        case PathWait::TimedOut:
            std::snprintf(why, sizeof why, "Port '%s' did not appear within %g seconds",
                          m_port.c_str(), m_run.firstWaitSeconds.value_or(0));
            break;
    }
    m_tally.GaveUp(m_index);
    m_reports.GaveUp(why);
    return false;
}

SlotThreads::SlotThreads(const std::vector<SlotLoop*>& loops, Tally& tally,
                         std::function<void()> allEnded)
    : m_tally(tally), m_allEnded(std::move(allEnded)), m_running(loops.size()) {
    for (SlotLoop* loop : loops) {
        m_threads.emplace_back([this, loop](std::stop_token stop) {
            loop->Serve(stop);
            if (--m_running == 0 && m_allEnded) {
                m_allEnded();
            }
        });
    }
}

SlotThreads::~SlotThreads() {
    Stop();
}

void SlotThreads::Stop() {
    m_tally.End();
    // Every slot is told at once; then each is waited for.
    for (std::jthread& thread : m_threads) {
        thread.request_stop();
    }
    for (std::jthread& thread : m_threads) {
        if (thread.joinable()) {
            thread.join();
        }
    }
}

}  // namespace quorvale
