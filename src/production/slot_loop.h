// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "download/session.h"
#include "image/firmware_image.h"
#include "link/port_handle.h"
#include "ports/path_watch.h"
#include "production/records.h"
#include "records/record_target.h"

// The production line: slots (port paths that come and go as controllers are plugged in),
// each flashing the controller plugged into it, recording each download, and with `repeat`
// every controller after it. The command line's downloads and the station window both run
// on it.
namespace quorvale {

// For a slot named by the kernel (/dev/tty...), which goes to whichever adapter comes next
// rather than staying with a USB socket: a note that says so. Nothing for other names.
std::optional<std::string> KernelNameNote(const std::string& port);

// What every slot of a run shares.
struct SlotRun {
    const FirmwareImage& image;
    LineSettings line;
    // The file's fields (ImageFields), which records begin with; only records need them.
    Json imageFields = Json::object();
    std::string host;
    // Where each download that ends is recorded.
    RecordTarget* record = nullptr;
    // A slot that isn't there yet is waited for; with `repeat`, each controller plugged in
    // after the last is downloaded to as well.
    bool wait = false;
    bool repeat = false;
    // Bounds the wait for a slot's first appearance only: a station left idle between
    // controllers keeps waiting.
    std::optional<double> firstWaitSeconds;
    // The job the file came from (JobFields), which records carry after the file's.
    Json jobFields = JobFields(std::nullopt);
};

// How one download on a slot ended.
struct SlotOutcome {
    DownloadOutcome result;
    std::uint32_t elapsedMs = 0;
    std::uint32_t bytesDone = 0;
    // When it ended, as records give it.
    std::string endTime;
    // Why a port would not open or went away, in the system's words.
    std::optional<std::string> systemErrorText;

    // The completion text, or the failure text.
    std::string Text() const;
    // The failure text and, for a port that would not open or went away, the reason under it.
    std::string FailureText() const;
    // "outcome", "seconds" and "bytes_per_second".
    Json EndingFields() const;
    // "kind", "message" and "system_error".
    Json FailureFields() const;
    // The whole record line of the download.
    Json RecordFields(const SlotRun& run, const std::string& port) const;
};

enum class SlotWait {
    ForController,  // the slot's path is not there
    ForUnplug,      // the controller just downloaded to is still in
};

// What a slot's loop tells whoever shows it. Called on the slot's own thread.
class SlotReports {
public:
    virtual ~SlotReports() = default;
    virtual void Waiting(SlotWait what) = 0;
    // A download begins; its line is traced to the observer answered, if any, until it ends.
    virtual LineObserver* Starting() = 0;
    // The download's phases and progress, as it tells them.
    virtual void Event(const DownloadEvent& event) = 0;
    // The download ended; its record is written next.
    virtual void Ended(const SlotOutcome& outcome) = 0;
    // The record line could not be written.
    virtual void RecordFailed(const std::string& error) = 0;
    // The slot is done with before a download: its path never appeared in time, or can't be
    // watched.
    virtual void GaveUp(const std::string& why) = 0;
};

// What the slots have done so far, and whether the run is ending. A slot starts a download
// only while the run goes on, so that the end of the run either finds it downloading (and
// cancels it, unless it completes first) or keeps it from starting.
class Tally {
public:
    struct Counts {
        unsigned completed = 0;
        unsigned failed = 0;
    };

    explicit Tally(std::size_t count) : m_slots(count) {}

    bool GoesOn() const;
    void End();
    // A cancelled download counts neither way.
    void EndDownload(std::size_t slot, const DownloadOutcome& result);
    // A slot that gave up without a download (it never appeared) counts as a failure.
    void GaveUp(std::size_t slot);

    Counts Of(std::size_t slot) const;
    bool AnyCancelled() const;
    bool AnyFailed() const;

private:
    mutable std::mutex m_mutex;
    std::vector<Counts> m_slots;
    bool m_ending = false;
    bool m_anyCancelled = false;
};

// One slot's part of the run: wait for it when asked, download, record, and with `repeat` do
// it again for each controller plugged in, until the stop.
class SlotLoop {
public:
    SlotLoop(const SlotRun& run, Tally& tally, std::size_t index, std::string port,
             SlotReports& reports);

    void Serve(std::stop_token stop);

    const std::string& Port() const { return m_port; }
    // The last download, if one ran.
    const std::optional<SlotOutcome>& Last() const { return m_last; }

private:
    using Deadline = std::optional<std::chrono::steady_clock::time_point>;

    void Download(std::stop_token stop);
    void Record(const SlotOutcome& outcome);
    Deadline FirstDeadline() const;
    bool AwaitPlug(std::stop_token stop, Deadline deadline);
    bool AwaitUnplug(const std::optional<PathStamp>& plugged, std::stop_token stop);
    bool Waited(const Result<PathWait>& outcome);

    const SlotRun& m_run;
    Tally& m_tally;
    const std::size_t m_index;
    const std::string m_port;
    SlotReports& m_reports;
    std::optional<SlotOutcome> m_last;
};

// Runs each loop on a thread of its own. `allEnded` is called on the thread of the loop that
// ended last, whether the loops ended by themselves or were stopped; it must not call Stop().
class SlotThreads {
public:
    SlotThreads(const std::vector<SlotLoop*>& loops, Tally& tally,
                std::function<void()> allEnded = {});
    ~SlotThreads();
    SlotThreads(const SlotThreads&) = delete;
    SlotThreads& operator=(const SlotThreads&) = delete;

    // Ends the run: no slot starts another download, running ones are cancelled at once (and
    // recorded so); returns when every loop has ended.
    void Stop();

private:
    Tally& m_tally;
    std::function<void()> m_allEnded;
    std::atomic<std::size_t> m_running;
    std::vector<std::jthread> m_threads;
};

}  // namespace quorvale
