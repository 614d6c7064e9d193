// SPDX-License-Identifier: Apache-2.0
#include "ui/slot_tile.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace quorvale {
namespace {

QLabel* AddLabel(QVBoxLayout* layout, int pointSize, bool bold) {
    QLabel* label = StationLabel({}, pointSize, bold);
    layout->addWidget(label);
    return label;
}

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

QString ColourName(Rgb colour) {
    return QColor(colour.red, colour.green, colour.blue).name();
}

}  // namespace

QLabel* StationLabel(const QString& text, int pointSize, bool bold) {
    auto* label = new QLabel(text);
    QFont font = label->font();
    font.setPointSize(pointSize);
    font.setBold(bold);
    label->setFont(font);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

SlotTile::SlotTile(const TileLook& look, QWidget* parent) : QFrame(parent) {
    setObjectName("SlotTile");
    setMinimumSize(340, 200);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    // The whole path is a hover away.
    AddLabel(layout, 13, true)->setText(Text(look.name));
    setToolTip(Text(look.slot));
    if (!look.note.empty()) {
        AddLabel(layout, 10, false)->setText(Text(look.note));
    }
    m_stateLabel = AddLabel(layout, 30, true);
    m_bar = new QProgressBar;
    m_bar->setRange(0, 100);
    m_bar->setTextVisible(true);
    m_bar->setMinimumHeight(22);
    layout->addWidget(m_bar);
    m_detail = AddLabel(layout, 12, false);
    layout->addStretch(1);
    m_hint = AddLabel(layout, 12, true);
    m_counts = AddLabel(layout, 12, true);
    Show(look);
}

void SlotTile::Show(const TileLook& look) {
    if (look.state != m_look.state || m_look.stateText.empty()) {
        setStyleSheet(QStringLiteral("#SlotTile { background-color: %1; border-radius: 8px; } "
                                     "QLabel { color: %2; }")
                          .arg(ColourName(StateColour(look.state)), ColourName(kTileTextColour)));
    }
    m_look = look;
    m_stateLabel->setText(Text(look.stateText));
    m_bar->setVisible(look.percent >= 0);
    m_bar->setValue(std::max(look.percent, 0));
    m_detail->setText(Text(look.detail));
    m_hint->setText(Text(look.hint));
    m_counts->setText(Text(look.counts));
}

QString SlotTile::StateText() const {
    return m_stateLabel->text();
}
QString SlotTile::DetailText() const {
    return m_detail->text();
}
QString SlotTile::HintText() const {
    return m_hint->text();
}
QString SlotTile::CountsText() const {
    return m_counts->text();
}
int SlotTile::ProgressPercent() const {
    return m_bar->isHidden() ? -1 : m_bar->value();
}

}  // namespace quorvale
