// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QFrame>
#include <QString>

#include "production/slot_loop.h"

class QLabel;
class QProgressBar;

namespace quorvale {

// A label of the station: wrapped, selectable, in the given size.
QLabel* StationLabel(const QString& text, int pointSize, bool bold);

enum class TileState { NotStarted, Waiting, Downloading, Passed, Failed, Cancelled, Stopped };

// One slot of the station: its name, its state in large text on a colour readable across a
// bench, what the state is about (bytes sent, the time taken, the exact failure text), and the
// slot's counts.
class SlotTile : public QFrame {
    Q_OBJECT

public:
    // `note`, when given, stays under the slot's name.
    explicit SlotTile(const QString& slot, const QString& note = {}, QWidget* parent = nullptr);

    // What the slot's loop reported; on the window's thread.
    void ShowWaiting(SlotWait what);
    void ShowStarting();
    void ShowProgress(std::uint32_t done, std::uint32_t total);
    void ShowEnded(const SlotOutcome& outcome);
    void ShowRecordFailed(const QString& error);
    void ShowGaveUp(const QString& why);

    TileState State() const { return m_state; }
    QString StateText() const;
    QString DetailText() const;
    QString HintText() const;
    QString CountsText() const;
    // The bar's value in percent, or -1 while it is hidden.
    int ProgressPercent() const;
    unsigned PassedCount() const { return m_passed; }
    unsigned FailedCount() const { return m_failed; }

Q_SIGNALS:
    void CountsChanged();

private:
    void SetState(TileState state, const QString& detail);
    void SetDetail(const QString& detail);

    TileState m_state = TileState::NotStarted;
    QLabel* m_stateLabel;
    QLabel* m_detail;
    QLabel* m_hint;
    QLabel* m_counts;
    QProgressBar* m_bar;
    QString m_detailText;
    QString m_notRecorded;
    QString m_lastOutcome;
    unsigned m_passed = 0;
    unsigned m_failed = 0;
};

// A slot's reports, made on the slot's thread, carried to its tile on the window's thread
// in the order they were made. Reports for a tile that has gone are dropped.
class TileReports final : public SlotReports {
public:
    explicit TileReports(SlotTile& tile) : m_tile(&tile) {}

    void Waiting(SlotWait what) override;
    LineObserver* Starting() override;
    void Event(const DownloadEvent& event) override;
    void Ended(const SlotOutcome& outcome) override;
    void RecordFailed(const std::string& error) override;
    void GaveUp(const std::string& why) override;

private:
    template <typename Change>
    void Post(Change change);

    SlotTile* const m_tile;
};

}  // namespace quorvale
