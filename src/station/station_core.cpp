// SPDX-License-Identifier: Apache-2.0
#include "station/station_core.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "download/texts.h"
#include "jobs/job_file.h"
#include "production/host.h"
#include "production/records.h"
#include "station/station_texts.h"

namespace quorvale {
namespace {

// The part of the digest a technician compares with the release note.
constexpr std::size_t kDigestShown = 16;

std::string Hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value & 0xFFFFu);
    return text;
}

}  // namespace

// A slot's reports, made on the slot's thread, carried to its tile on the window's thread
// in the order they were made.
class StationCore::Reports final : public SlotReports {
public:
    Reports(StationCore& core, std::size_t slot) : m_core(core), m_slot(slot) {}

    void Waiting(SlotWait what) override {
        Post([what](quorvale::Tile& tile) { tile.Waiting(what); });
    }
    LineObserver* Starting() override {
        Post([](quorvale::Tile& tile) { tile.Starting(); });
        return nullptr;
    }
    void Event(const DownloadEvent& event) override {
        // Starting and the end say all the tile shows of the phases.
        if (event.kind == DownloadEvent::Kind::Progress) {
            Post([done = event.done, total = event.total](quorvale::Tile& tile) {
                tile.Progress(done, total);
            });
        }
    }
    void Ended(const SlotOutcome& outcome) override {
        Post([outcome](quorvale::Tile& tile) { tile.Ended(outcome); });
    }
    void RecordFailed(const std::string& error) override {
        Post([error](quorvale::Tile& tile) { tile.RecordFailed(error); });
    }
    void GaveUp(const std::string& why) override {
        Post([why](quorvale::Tile& tile) { tile.GaveUp(why); });
    }

private:
    void Post(std::function<void(quorvale::Tile&)> change) {
        m_core.m_view.Post([core = &m_core, slot = m_slot, change = std::move(change)] {
            core->Change(slot, change);
        });
    }

    StationCore& m_core;
    const std::size_t m_slot;
};

StationCore::StationCore(StationOptions options, StationView& view)
    : m_options(std::move(options)), m_view(view), m_line(m_options.line) {
    m_refusal = FindRefusal();
    m_recordLine = RecordLineNow();
    if (!m_refusal.empty()) {
        std::fprintf(stderr, "quorvale-station: %s\n", m_refusal.c_str());
    } else {
        const Json fields = ImageFields(m_job ? m_job->firmwareFile : m_options.file, *m_image);
        m_digest = fields["file_sha256"].get<std::string>();
        m_run = std::make_unique<SlotRun>(
            SlotRun{*m_image, m_line, fields, HostName(), m_record.get(), true, true, std::nullopt,
                    JobFields(m_job ? std::optional<JobRecord>(RecordOf(*m_job)) : std::nullopt)});
    }
    for (const std::string& slot : m_options.slotPaths) {
        const auto note = KernelNameNote(slot);
        if (note) {
            std::fprintf(stderr, "%s\n", note->c_str());
        }
        m_tiles.emplace_back(slot, note.value_or(""));
    }
}

StationCore::~StationCore() {
    if (m_record) {
        m_record->WatchWaiting(nullptr);
    }
    Stop();
}

// Why nothing can be flashed; empty when the file or the job loaded and the record opened.
std::string StationCore::FindRefusal() {
    if (const std::string refused = LoadFirmware(); !refused.empty()) {
        return refused;
    }
    if (m_options.recordFile) {
        auto record = OpenRecordTarget(*m_options.recordFile);
        if (!record) {
            return record.error().Words();
        }
        m_record = std::move(*record);
        // Records waiting for a server go out in the background; the line follows them.
        m_record->WatchWaiting([this] {
            m_view.Post([this, line = RecordLineNow()] {
                m_recordLine = line;
                m_view.ShowRecord(line);
            });
        });
    }
    return {};
}

// The firmware file, or the job's after every check; a refusal's words otherwise.
std::string StationCore::LoadFirmware() {
    const auto lock = ReadStationLock();
    if (!lock) {
        return lock.error().Words();
    }
    m_locked = lock->locked;
    if (const auto refusal = ChoiceRefusal(
            {m_options.file, m_options.job, m_options.trust, m_options.lineOptionsGiven},
            lock->locked, lock->folder)) {
        return *refusal;
    }
    if (!m_options.job) {
        const LoadResult loaded = m_image->Load(m_options.file);
        return loaded == LoadOk ? std::string() : LoadResultMessageWithHint(loaded, m_options.file);
    }
    auto opened = OpenJobFile(*m_options.job, m_options.trust, *lock);
    if (!opened) {
        return opened.error().Words();
    }
    m_image = std::move(opened->image);
    m_line = opened->job.line;
    m_job = std::move(opened->job);
    return {};
}

void StationCore::Start() {
    if (!m_run || m_threads) {
        return;
    }
    m_tally = std::make_unique<Tally>(m_tiles.size());
    std::vector<SlotLoop*> loops;
    for (std::size_t i = 0; i < m_tiles.size(); ++i) {
        m_reports.push_back(std::make_unique<Reports>(*this, i));
        m_loops.push_back(std::make_unique<SlotLoop>(*m_run, *m_tally, i, m_options.slotPaths[i],
                                                     *m_reports.back()));
        loops.push_back(m_loops.back().get());
    }
    m_threads = std::make_unique<SlotThreads>(loops, *m_tally);
}

void StationCore::Stop() {
    if (m_threads) {
        m_threads->Stop();
    }
}

void StationCore::Change(std::size_t slot, const std::function<void(quorvale::Tile&)>& change) {
    change(m_tiles[slot]);
    m_view.ShowTile(slot, m_tiles[slot].Look());
    m_view.ShowTotals(TotalsText());
    m_view.ShowRecord(RecordText());
}

std::string StationCore::HeaderText() const {
    if (Refused()) {
        return StationTexts::Fill(StationTexts::NothingFlashed, {m_refusal});
    }
    return StationTexts::Fill(
        StationTexts::FileLine,
        {std::to_string(m_image->GetHardwareCode()), std::to_string(m_image->GetVersion()),
         Hex4(m_image->GetStartAddress()), std::to_string(m_image->GetLength()),
         std::to_string(m_image->GetBaudRate()), m_digest.substr(0, kDigestShown)});
}

std::string StationCore::JobText() const {
    if (!m_job) {
        return {};
    }
    return StationTexts::Fill(m_locked ? StationTexts::LockedJobLine : StationTexts::JobLine,
                              {m_job->name, m_job->keyId});
}

std::string StationCore::LineText() const {
    const LineSettings& line = m_line;
    return StationTexts::Fill(StationTexts::LineSettingsLine,
                              {std::to_string(line.baudRate), std::to_string(line.dataBits),
                               ItemText(SettingLists::Parities, line.parity),
                               ItemText(SettingLists::StopBitsChoices, line.stopBits)});
}

std::string StationCore::TotalsText() const {
    unsigned passed = 0;
    unsigned failed = 0;
    for (const quorvale::Tile& tile : m_tiles) {
        passed += tile.Look().passed;
        failed += tile.Look().failed;
    }
    return StationTexts::Fill(StationTexts::Totals,
                              {std::to_string(passed), std::to_string(failed)});
}

std::string StationCore::RecordText() const {
    return m_recordLine;
}

std::string StationCore::RecordLineNow() const {
    if (!m_options.recordFile) {
        return StationTexts::NoRecord;
    }
    const std::string shown = RecordShown(*m_options.recordFile);
    const std::size_t waiting = m_record ? m_record->Waiting() : 0;
    if (waiting == 0) {
        return StationTexts::Fill(StationTexts::RecordTo, {shown});
    }
    const std::string problem = m_record->Problem();
    return problem.empty()
               ? StationTexts::Fill(StationTexts::RecordWaiting, {shown, std::to_string(waiting)})
               : StationTexts::Fill(StationTexts::RecordRefused,
                                    {shown, std::to_string(waiting), problem});
}

int StationColumns(std::size_t slots, int room) {
    const int square = slots <= 3
                           ? static_cast<int>(std::max<std::size_t>(slots, 1))
                           : static_cast<int>(std::ceil(std::sqrt(static_cast<double>(slots))));
    return std::max(1, std::min(square, room));
}

}  // namespace quorvale
