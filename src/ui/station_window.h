// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QWidget>
#include <memory>
#include <vector>

#include "station/station_core.h"
#include "ui/slot_tile.h"

class QLabel;

namespace quorvale {

// The station drawn with Qt: the core's header, its tiles in a scrolling grid, its totals and
// record. The close box or Ctrl+Q ends it.
class StationWindow : public QWidget, private StationView {
    Q_OBJECT

public:
    explicit StationWindow(StationOptions options);
    ~StationWindow() override;

    // Starts every slot's loop, unless something was refused.
    void Start() { m_core.Start(); }
    bool Refused() const { return m_core.Refused(); }

    std::size_t SlotCount() const { return m_tiles.size(); }
    const SlotTile& Tile(std::size_t slot) const { return *m_tiles[slot]; }
    // The file's header and digest, or why nothing is flashed.
    QString HeaderText() const;
    QString TotalsText() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void ShowTile(std::size_t slot, const TileLook& look) override;
    void ShowTotals(const std::string& text) override;
    void ShowRecord(const std::string& text) override;
    void Post(std::function<void()> change) override;

    QWidget* MakeHeader();
    QWidget* MakeTiles();
    QWidget* MakeFooter();

    std::vector<SlotTile*> m_tiles;
    QLabel* m_fileLine = nullptr;
    QLabel* m_totals = nullptr;
    QLabel* m_record = nullptr;
    // Last, so that it goes first: its slots report to everything above.
    StationCore m_core;
};

}  // namespace quorvale
