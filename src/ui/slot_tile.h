// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QFrame>
#include <QString>

#include "station/tile.h"

class QLabel;
class QProgressBar;

namespace quorvale {

// A label of the station: wrapped, selectable, in the given size.
QLabel* StationLabel(const QString& text, int pointSize, bool bold);

// One slot of the station as the core's tile look has it: its name, its state in large text
// on its colour, what the state is about, and the slot's counts.
class SlotTile : public QFrame {
    Q_OBJECT

public:
    explicit SlotTile(const TileLook& look, QWidget* parent = nullptr);

    void Show(const TileLook& look);

    TileState State() const { return m_look.state; }
    QString StateText() const;
    QString DetailText() const;
    QString HintText() const;
    QString CountsText() const;
    // The bar's value in percent, or -1 while it is hidden.
    int ProgressPercent() const;
    unsigned PassedCount() const { return m_look.passed; }
    unsigned FailedCount() const { return m_look.failed; }

private:
    TileLook m_look;
    QLabel* m_stateLabel;
    QLabel* m_detail;
    QLabel* m_hint;
    QLabel* m_counts;
    QProgressBar* m_bar;
};

}  // namespace quorvale
