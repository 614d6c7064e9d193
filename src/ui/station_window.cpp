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

#include "station/station_texts.h"

namespace quorvale {
namespace {

// What a tile needs to show a state in large text, wrapped, with its lines below.
constexpr QSize kTileRoom(380, 270);
constexpr int kScrollBarRoom = 24;

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

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

StationWindow::StationWindow(StationOptions options) : m_core(std::move(options), *this) {
    setWindowTitle(StationTexts::Title);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeHeader());
    layout->addWidget(MakeTiles(), 1);
    layout->addWidget(MakeFooter());
}

StationWindow::~StationWindow() {
    m_core.Stop();
}

QWidget* StationWindow::MakeHeader() {
    auto* header = new QWidget;
    auto* layout = new QVBoxLayout(header);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(StationLabel(Text(m_core.FileText()), 14, true));
    m_fileLine =
        StationLabel(Text(m_core.HeaderText()), m_core.Refused() ? 14 : 12, m_core.Refused());
    if (m_core.Refused()) {
        m_fileLine->setStyleSheet(
            QStringLiteral("color: %1;")
                .arg(QColor(kRefusalColour.red, kRefusalColour.green, kRefusalColour.blue).name()));
    }
    layout->addWidget(m_fileLine);
    if (!m_core.JobText().empty()) {
        layout->addWidget(StationLabel(Text(m_core.JobText()), 12, true));
    }
    layout->addWidget(StationLabel(Text(m_core.LineText()), 12, false));
    return header;
}

// The tiles in a scroll area with room for them all where the screen has it: a line PC's
// screen holds a few rows, and more slots scroll.
QWidget* StationWindow::MakeTiles() {
    auto* tiles = new QWidget;
    auto* grid = new QGridLayout(tiles);
    grid->setContentsMargins(0, 8, 0, 8);
    grid->setSpacing(12);
    const int columns =
        StationColumns(m_core.SlotCount(), ScreenRoom().width() / kTileRoom.width());
    for (std::size_t i = 0; i < m_core.SlotCount(); ++i) {
        auto* tile = new SlotTile(m_core.Tile(i));
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
    m_totals = StationLabel(Text(m_core.TotalsText()), 14, true);
    layout->addWidget(m_totals);
    m_record = StationLabel(Text(m_core.RecordText()), 11, false);
    layout->addWidget(m_record);
    return footer;
}

QString StationWindow::HeaderText() const {
    return m_fileLine->text();
}
QString StationWindow::TotalsText() const {
    return m_totals->text();
}

void StationWindow::ShowTile(std::size_t slot, const TileLook& look) {
    m_tiles[slot]->Show(look);
}

void StationWindow::ShowTotals(const std::string& text) {
    m_totals->setText(Text(text));
}

void StationWindow::ShowRecord(const std::string& text) {
    m_record->setText(Text(text));
}

void StationWindow::Post(std::function<void()> change) {
    // Queued to the window's own thread; Qt drops what is queued for an object that has gone.
    QMetaObject::invokeMethod(this, std::move(change), Qt::QueuedConnection);
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
    m_core.Stop();
    event->accept();
}

}  // namespace quorvale
