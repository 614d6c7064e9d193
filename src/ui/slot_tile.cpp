// SPDX-License-Identifier: Apache-2.0
#include "ui/slot_tile.h"

#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>
#include <array>

#include "download/texts.h"
#include "ui/station_texts.h"

namespace quorvale {
namespace {

struct StateLook {
    const char* text;
    const char* colour;
};

// By TileState: dark enough for white text, and told apart by hue as well as by words.
constexpr std::array<StateLook, 7> kLooks = {{
    {StationTexts::NotStarted, "#616161"},
    {StationTexts::WaitingForController, "#455a64"},
    {StationTexts::Downloading, "#1565c0"},
    {StationTexts::Passed, "#2e7d32"},
    {StationTexts::Failed, "#c62828"},
    {StationTexts::Cancelled, "#6d4c41"},
    {StationTexts::Stopped, "#e65100"},
}};

const StateLook& LookOf(TileState state) {
    return kLooks[static_cast<std::size_t>(state)];
}

QLabel* AddLabel(QVBoxLayout* layout, int pointSize, bool bold) {
    QLabel* label = StationLabel({}, pointSize, bold);
    layout->addWidget(label);
    return label;
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

SlotTile::SlotTile(const QString& slot, const QString& note, QWidget* parent) : QFrame(parent) {
    setObjectName("SlotTile");
    setMinimumSize(340, 200);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    // The last part names a slot (a by-path link's socket); the whole path is a hover away.
    QLabel* name = AddLabel(layout, 13, true);
    const QString last = QFileInfo(slot).fileName();
    name->setText(last.isEmpty() ? slot : last);
    setToolTip(slot);
    if (!note.isEmpty()) {
        AddLabel(layout, 10, false)->setText(note);
    }
    m_stateLabel = AddLabel(layout, 30, true);
    m_bar = new QProgressBar;
    m_bar->setRange(0, 100);
    m_bar->setTextVisible(true);
    m_bar->setMinimumHeight(22);
    m_bar->hide();
    layout->addWidget(m_bar);
    m_detail = AddLabel(layout, 12, false);
    layout->addStretch(1);
    m_hint = AddLabel(layout, 12, true);
    m_counts = AddLabel(layout, 12, true);
    SetState(TileState::NotStarted, {});
    m_counts->setText(CountsText());
}

void SlotTile::ShowWaiting(SlotWait what) {
    if (what == SlotWait::ForUnplug) {
        m_hint->setText(StationTexts::UnplugHint);
        return;
    }
    SetState(TileState::Waiting, {});
    m_hint->setText(m_lastOutcome);
}

void SlotTile::ShowStarting() {
    m_notRecorded.clear();
    SetState(TileState::Downloading, StatusTexts::InitiatingDownload);
    m_bar->setValue(0);
    m_bar->show();
    m_hint->clear();
}

void SlotTile::ShowProgress(std::uint32_t done, std::uint32_t total) {
    m_bar->setValue(total ? static_cast<int>(std::uint64_t{done} * 100 / total) : 0);
    SetDetail(QString(StationTexts::Bytes).arg(done).arg(total));
}

void SlotTile::ShowEnded(const SlotOutcome& outcome) {
    const QString text = QString::fromStdString(outcome.Text());
    if (outcome.result.Completed()) {
        ++m_passed;
        SetState(TileState::Passed, text);
    } else if (outcome.result.kind == FailureKind::Cancelled) {
        SetState(TileState::Cancelled, text);
    } else {
        ++m_failed;
        SetState(TileState::Failed, QString::fromStdString(outcome.FailureText()));
    }
    m_lastOutcome =
        QString(StationTexts::LastOutcome).arg(StateText() + QStringLiteral(" - ") + text);
    m_hint->clear();
    m_counts->setText(CountsText());
    Q_EMIT CountsChanged();
}

void SlotTile::ShowRecordFailed(const QString& error) {
    m_notRecorded = QString(StationTexts::NotRecorded).arg(error);
    SetDetail(m_detailText);
}

void SlotTile::ShowGaveUp(const QString& why) {
    SetState(TileState::Stopped, why);
    m_hint->clear();
}

QString SlotTile::StateText() const {
    return LookOf(m_state).text;
}
QString SlotTile::DetailText() const {
    return m_detail->text();
}
QString SlotTile::HintText() const {
    return m_hint->text();
}
QString SlotTile::CountsText() const {
    return QString(StationTexts::Counts).arg(m_passed).arg(m_failed);
}
int SlotTile::ProgressPercent() const {
    return m_bar->isHidden() ? -1 : m_bar->value();
}

void SlotTile::SetState(TileState state, const QString& detail) {
    m_state = state;
    const StateLook& look = LookOf(state);
    m_stateLabel->setText(look.text);
    setStyleSheet(QStringLiteral("#SlotTile { background-color: %1; border-radius: 8px; } "
                                 "QLabel { color: white; }")
                      .arg(look.colour));
    if (state != TileState::Downloading) {
        m_bar->hide();
    }
    SetDetail(detail);
}

void SlotTile::SetDetail(const QString& detail) {
    m_detailText = detail;
    m_detail->setText(m_notRecorded.isEmpty() ? detail : detail + "\n" + m_notRecorded);
}

template <typename Change>
void TileReports::Post(Change change) {
    // Queued to the tile's own thread; Qt drops what is queued for an object that has gone.
    QMetaObject::invokeMethod(
        m_tile, [tile = m_tile, change = std::move(change)] { change(*tile); },
        Qt::QueuedConnection);
}

void TileReports::Waiting(SlotWait what) {
    Post([what](SlotTile& tile) { tile.ShowWaiting(what); });
}

LineObserver* TileReports::Starting() {
    Post([](SlotTile& tile) { tile.ShowStarting(); });
    return nullptr;
}

void TileReports::Event(const DownloadEvent& event) {
    // Starting and the end say all the tile shows of the phases.
    if (event.kind == DownloadEvent::Kind::Progress) {
        Post([done = event.done, total = event.total](SlotTile& tile) {
            tile.ShowProgress(done, total);
        });
    }
}

void TileReports::Ended(const SlotOutcome& outcome) {
    Post([outcome](SlotTile& tile) { tile.ShowEnded(outcome); });
}

void TileReports::RecordFailed(const std::string& error) {
    Post([error = QString::fromStdString(error)](SlotTile& tile) { tile.ShowRecordFailed(error); });
}

void TileReports::GaveUp(const std::string& why) {
    Post([why = QString::fromStdString(why)](SlotTile& tile) { tile.ShowGaveUp(why); });
}

}  // namespace quorvale
