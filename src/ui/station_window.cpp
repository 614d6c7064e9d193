// SPDX-License-Identifier: Apache-2.0
#include "ui/station_window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>
#include <climits>
#include <cmath>
#include <cstdio>

#include "download/texts.h"
#include "production/host.h"
#include "ui/station_texts.h"

namespace quorvale {
namespace {

// What a tile needs to show a state in large text, wrapped, with its lines below.
constexpr QSize kTileRoom(380, 270);
constexpr int kScrollBarRoom = 24;

// The part of the digest a technician compares with the release note.
constexpr int kDigestShown = 16;

// The screen's room for the tiles: most of its width, and some of its height for the header
// and the totals. A line PC with many slots scrolls down the rest.
QSize ScreenRoom() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        return {INT_MAX, INT_MAX};
    }
    const QRect room = screen->availableGeometry();
    return {room.width() * 9 / 10, room.height() * 6 / 10};
}

// As square as the slots allow, one row for up to three, and never wider than the screen.
int Columns(std::size_t count) {
    const int square = count <= 3
                           ? static_cast<int>(std::max<std::size_t>(count, 1))
                           : static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count))));
    return std::max(1, std::min(square, ScreenRoom().width() / kTileRoom.width()));
}

}  // namespace

StationWindow::StationWindow(StationOptions options) : m_options(std::move(options)) {
    setWindowTitle(StationTexts::Title);
    m_refusal = Refusal();
    if (!m_refusal.isEmpty()) {
        std::fprintf(stderr, "quorvale-station: %s\n", qPrintable(m_refusal));
    }
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeHeader());
    layout->addWidget(MakeTiles(), 1);
    layout->addWidget(MakeFooter());
}

StationWindow::~StationWindow() {
    StopSlots();
}

// Why nothing can be flashed; empty when the file loaded and the record opened.
QString StationWindow::Refusal() {
    const LoadResult loaded = m_image->Load(m_options.file);
    if (loaded != LoadOk) {
        return QString::fromStdString(LoadResultMessageWithHint(loaded, m_options.file));
    }
    if (m_options.recordFile) {
        auto record = AppendFile::Open(*m_options.recordFile);
        if (!record) {
            return QString::fromStdString(record.error().Words());
        }
        m_record = std::move(*record);
    }
    return {};
}

QWidget* StationWindow::MakeHeader() {
    auto* header = new QWidget;
    auto* layout = new QVBoxLayout(header);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(StationLabel(QString::fromStdString(m_options.file), 14, true));
    if (m_refusal.isEmpty()) {
        const Json fields = ImageFields(m_options.file, *m_image);
        const std::string digest = fields["file_sha256"].get<std::string>();
        m_fileLine = StationLabel(QString(StationTexts::FileLine)
                                      .arg(m_image->GetHardwareCode())
                                      .arg(m_image->GetVersion())
                                      .arg(m_image->GetStartAddress(), 4, 16, QChar('0'))
                                      .arg(m_image->GetLength())
                                      .arg(m_image->GetBaudRate())
                                      .arg(QString::fromStdString(digest.substr(0, kDigestShown))),
                                  12, false);
        m_run = std::make_unique<SlotRun>(SlotRun{*m_image, m_options.line, fields, HostName(),
                                                  m_record.get(), true, true, std::nullopt});
    } else {
        m_fileLine = StationLabel(QString(StationTexts::NothingFlashed).arg(m_refusal), 14, true);
        m_fileLine->setStyleSheet("color: #c62828;");
    }
    layout->addWidget(m_fileLine);
    const LineSettings& line = m_options.line;
    layout->addWidget(StationLabel(QString(StationTexts::LineSettingsLine)
                                       .arg(line.baudRate)
                                       .arg(line.dataBits)
                                       .arg(ItemText(SettingLists::Parities, line.parity))
                                       .arg(ItemText(SettingLists::StopBitsChoices, line.stopBits)),
                                   12, false));
    return header;
}

// The tiles in a scroll area with room for them all where the screen has it: a line PC's
// screen holds a few rows, and more slots scroll.
QWidget* StationWindow::MakeTiles() {
    auto* tiles = new QWidget;
    auto* grid = new QGridLayout(tiles);
    grid->setContentsMargins(0, 8, 0, 8);
    grid->setSpacing(12);
    const int columns = Columns(m_options.slotPaths.size());
    for (std::size_t i = 0; i < m_options.slotPaths.size(); ++i) {
        const std::string& slot = m_options.slotPaths[i];
        const auto note = KernelNameNote(slot);
        if (note) {
            std::fprintf(stderr, "%s\n", note->c_str());
        }
        auto* tile = new SlotTile(QString::fromStdString(slot),
                                  note ? QString::fromStdString(*note) : QString());
        connect(tile, &SlotTile::CountsChanged, this, &StationWindow::UpdateTotals);
        grid->addWidget(tile, static_cast<int>(i) / columns, static_cast<int>(i) % columns);
        m_tiles.push_back(tile);
    }
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(tiles);
    const int rows = (static_cast<int>(m_tiles.size()) + columns - 1) / columns;
    scroll->setMinimumSize(
        std::min(columns * kTileRoom.width() + kScrollBarRoom, ScreenRoom().width()),
        std::min(rows * kTileRoom.height(), ScreenRoom().height()));
    return scroll;
}

QWidget* StationWindow::MakeFooter() {
    auto* footer = new QWidget;
    auto* layout = new QVBoxLayout(footer);
    layout->setContentsMargins(0, 0, 0, 0);
    m_totals = StationLabel({}, 14, true);
    layout->addWidget(m_totals);
    layout->addWidget(StationLabel(
        m_options.recordFile
            ? QString(StationTexts::RecordTo).arg(QString::fromStdString(*m_options.recordFile))
            : QString(StationTexts::NoRecord),
        11, false));
    UpdateTotals();
    return footer;
}

void StationWindow::Start() {
    if (!m_run || m_threads) {
        return;
    }
    m_tally = std::make_unique<Tally>(m_tiles.size());
    std::vector<SlotLoop*> loops;
    for (std::size_t i = 0; i < m_tiles.size(); ++i) {
        m_reports.push_back(std::make_unique<TileReports>(*m_tiles[i]));
        m_loops.push_back(std::make_unique<SlotLoop>(*m_run, *m_tally, i, m_options.slotPaths[i],
                                                     *m_reports.back()));
        loops.push_back(m_loops.back().get());
    }
    m_threads = std::make_unique<SlotThreads>(loops, *m_tally);
}

QString StationWindow::HeaderText() const {
    return m_fileLine->text();
}
QString StationWindow::TotalsText() const {
    return m_totals->text();
}

void StationWindow::UpdateTotals() {
    unsigned passed = 0;
    unsigned failed = 0;
    for (const SlotTile* tile : m_tiles) {
        passed += tile->PassedCount();
        failed += tile->FailedCount();
    }
    m_totals->setText(QString(StationTexts::Totals).arg(passed).arg(failed));
}

void StationWindow::keyPressEvent(QKeyEvent* event) {
    // A key press of the window itself, so that it also ends a station with no window manager.
    if (event->key() == Qt::Key_Q && (event->modifiers() & Qt::ControlModifier)) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void StationWindow::closeEvent(QCloseEvent* event) {
    StopSlots();
    event->accept();
}

void StationWindow::StopSlots() {
    if (m_threads) {
        m_threads->Stop();
    }
}

}  // namespace quorvale
