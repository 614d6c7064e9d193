// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "image/firmware_image.h"
#include "jobs/job.h"
#include "production/slot_loop.h"
#include "records/record_target.h"
#include "station/station_options.h"
#include "station/tile.h"

namespace quorvale {

// What the station asks of the window that draws it.
class StationView {
public:
    virtual ~StationView() = default;
    // A slot's tile changed; on the window's thread.
    virtual void ShowTile(std::size_t slot, const TileLook& look) = 0;
    virtual void ShowTotals(const std::string& text) = 0;
    // The record's line changed: a record kept to wait for its server, or records sent.
    virtual void ShowRecord(const std::string& text) = 0;
    // Runs `change` on the window's thread, after every change posted before it. May be
    // called from any thread; a change posted to a window that has gone is dropped.
    virtual void Post(std::function<void()> change) = 0;
};

// The station, whatever draws it: the file's header at the top, a tile per slot, the totals
// and the record at the bottom. Each slot flashes every controller plugged into it until Stop
// (the window's close box or Ctrl+Q), which cancels the downloads under way; they are
// recorded as cancelled.
class StationCore {
public:
    // Loads the file and opens the record; a refusal of either is shown in place of the file's
    // header, and nothing is flashed.
    StationCore(StationOptions options, StationView& view);
    ~StationCore();
    StationCore(const StationCore&) = delete;
    StationCore& operator=(const StationCore&) = delete;

    // Starts every slot's loop, unless something was refused.
    void Start();
    // Ends every slot's loop; returns when they have ended.
    void Stop();

    bool Refused() const { return !m_refusal.empty(); }
    const std::string& Refusal() const { return m_refusal; }

    // The lines of the top: the file, then its header and digest or why nothing is flashed,
    // then the application's line settings.
    const std::string& FileText() const { return m_options.job ? *m_options.job : m_options.file; }
    std::string HeaderText() const;
    // The job's name and key, and "Locked" when the system's keys lock the station; empty
    // without a job.
    std::string JobText() const;
    std::string LineText() const;
    // The lines of the bottom.
    std::string TotalsText() const;
    // The record target and, while records wait for a server, how many.
    std::string RecordText() const;

    std::size_t SlotCount() const { return m_tiles.size(); }
    const TileLook& Tile(std::size_t slot) const { return m_tiles[slot].Look(); }

private:
    class Reports;

    std::string FindRefusal();
    // Asks the record how many wait, on whichever thread the record tells it on.
    std::string RecordLineNow() const;
    std::string LoadFirmware();
    void Change(std::size_t slot, const std::function<void(quorvale::Tile&)>& change);

    const StationOptions m_options;
    StationView& m_view;
    std::unique_ptr<FirmwareImage> m_image = std::make_unique<FirmwareImage>();
    // What the slots flash with: the options' line, or the job's.
    LineSettings m_line;
    std::optional<Job> m_job;
    bool m_locked = false;
    std::unique_ptr<RecordTarget> m_record;
    // Kept on the window's thread, as the record last told it: counting the spool is not for
    // every tile's change.
    std::string m_recordLine;
    std::string m_refusal;
    std::string m_digest;
    std::unique_ptr<SlotRun> m_run;
    std::vector<quorvale::Tile> m_tiles;
    std::unique_ptr<Tally> m_tally;
    std::vector<std::unique_ptr<Reports>> m_reports;
    std::vector<std::unique_ptr<SlotLoop>> m_loops;
    // Last, so that it goes first: its threads use everything above.
    std::unique_ptr<SlotThreads> m_threads;
};

// How many tiles a row holds: as square as the slots allow, one row for up to three, and
// no more than `room` (the screen's width over a tile's), at least one.
int StationColumns(std::size_t slots, int room);

}  // namespace quorvale
