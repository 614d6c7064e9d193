// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QWidget>
#include <memory>
#include <vector>

#include "files/append_file.h"
#include "image/firmware_image.h"
#include "production/slot_loop.h"
#include "ui/slot_tile.h"
#include "ui/station_app.h"

class QLabel;

namespace quorvale {

// The station: the file's header at the top, a tile per slot, the totals and the record at the
// bottom. Each slot flashes every controller plugged into it until the window closes (its close
// box or Ctrl+Q), which cancels the downloads under way; they are recorded as cancelled.
class StationWindow : public QWidget {
    Q_OBJECT

public:
    // Loads the file and opens the record; a refusal of either is shown in place of the file's
    // header, and nothing is flashed.
    explicit StationWindow(StationOptions options);
    ~StationWindow() override;

    // Starts every slot's loop, unless something was refused.
    void Start();
    bool Refused() const { return !m_refusal.isEmpty(); }

    std::size_t SlotCount() const { return m_tiles.size(); }
    const SlotTile& Tile(std::size_t slot) const { return *m_tiles[slot]; }
    // The file's header and digest, or why nothing is flashed.
    QString HeaderText() const;
    QString TotalsText() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QString Refusal();
    QWidget* MakeHeader();
    QWidget* MakeTiles();
    QWidget* MakeFooter();
    void UpdateTotals();
    void StopSlots();

    const StationOptions m_options;
    std::unique_ptr<FirmwareImage> m_image = std::make_unique<FirmwareImage>();
    std::unique_ptr<AppendFile> m_record;
    QString m_refusal;
    std::unique_ptr<SlotRun> m_run;
    std::unique_ptr<Tally> m_tally;
    std::vector<SlotTile*> m_tiles;
    QLabel* m_fileLine = nullptr;
    QLabel* m_totals = nullptr;
    std::vector<std::unique_ptr<TileReports>> m_reports;
    std::vector<std::unique_ptr<SlotLoop>> m_loops;
    // Last, so that it goes first: its threads use everything above.
    std::unique_ptr<SlotThreads> m_threads;
};

}  // namespace quorvale
