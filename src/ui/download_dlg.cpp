// SPDX-License-Identifier: Apache-2.0
#include "ui/download_dlg.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <algorithm>

#include "dialog/dialog_template.h"
#include "ports/discovery.h"

// Resources linked from a static library need registering by hand.
static void RegisterResources() {
    Q_INIT_RESOURCE(resources);
}

namespace quorvale {
namespace {

constexpr char kMessageCaption[] = "Quorvale Bootloader";

// Dialog units are a quarter of the font's average character width across and an eighth of
// its height down, so the template keeps its proportions with any font. The template was
// drawn for a narrow font: where a wider one would cut off a label, the units grow until
// every label fits, the whole layout with them.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font) {
        const QFontMetrics metrics(font);
        const int letters =
            metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        m_baseX = (letters / 26 + 1) / 2;
        m_baseY = metrics.height();
        for (const TemplateControl& c : DialogTemplate) {
            if (c.kind == ControlKind::Label) {
                const int needed = metrics.horizontalAdvance(QString::fromUtf8(c.text)) + 2;
                m_baseX = std::max(m_baseX, (needed * 4 + c.width - 1) / c.width);
            }
        }
    }
    int X(int units) const { return units * m_baseX / 4; }
    int Y(int units) const { return units * m_baseY / 8; }
    QRect Rect(const TemplateControl& c) const {
        // A drop-down list's template height includes its open list; closed it is one line.
        const int height = c.kind == ControlKind::DropDownList ? 12 : c.height;
        return QRect(X(c.x), Y(c.y), X(c.width), Y(height));
    }

private:
    int m_baseX = 0;
    int m_baseY = 0;
};

QWidget* MakeControl(const TemplateControl& entry, QWidget* parent) {
    const QString text = QString::fromUtf8(entry.text);
    switch (entry.kind) {
        case ControlKind::Label: {
            auto* label = new QLabel(text, parent);
            label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            return label;
        }
        case ControlKind::ReadOnlyEdit: {
            auto* edit = new QLineEdit(text, parent);
            edit->setReadOnly(true);
            if (entry.centred) {
                edit->setAlignment(Qt::AlignCenter);
            }
            return edit;
        }
        case ControlKind::PushButton:
            return new QPushButton(text, parent);
        case ControlKind::DropDownList: {
            auto* combo = new QComboBox(parent);
            combo->setEditable(false);
            return combo;
        }
        case ControlKind::GroupBox:
            return new QGroupBox(text, parent);
        case ControlKind::SunkenText: {
            auto* value = new QLabel(text, parent);
            value->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            value->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            value->setTextInteractionFlags(Qt::TextSelectableByMouse);
            return value;
        }
        case ControlKind::ProgressBar: {
            auto* bar = new QProgressBar(parent);
            bar->setTextVisible(false);
            return bar;
        }
    }
    return nullptr;
}

void DesktopMessage(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, kMessageCaption, text, QMessageBox::Ok, parent);
    box.exec();
}

QString DesktopFileChoice(QWidget* parent) {
    QFileDialog dialog(parent);
    SetFirmwareFilters(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().first();
}

}  // namespace

void SetFirmwareFilters(QFileDialog& dialog) {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // Qt's own dialog, whose file model can be told what "All Files" matches: its wildcard, as
    // a desktop's dialog would read it too, needs a dot, so a file without an extension would
    // never be listed.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters({kFirmwareFilter, kAllFilesFilter});
    const auto matchEveryFile = [&dialog](const QString& filter) {
        if (filter == kAllFilesFilter) {
            if (auto* model = dialog.findChild<QFileSystemModel*>()) {
                model->setNameFilters({"*"});
            }
        }
    };
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, matchEveryFile);
    dialog.selectNameFilter(kFirmwareFilter);
    dialog.setDefaultSuffix("bin");
}

DialogServices DialogServices::Desktop() {
    return {DesktopMessage, DesktopFileChoice, [] { return DiscoverSerialPorts(); }};
}

int SelectString(QComboBox* combo, const QString& text) {
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemText(i).startsWith(text, Qt::CaseInsensitive)) {
            combo->setCurrentIndex(i);
            return i;
        }
    }
    return -1;
}

CDownloadDlg::CDownloadDlg(QString fileName, DialogServices services)
    : QDialog(nullptr),
      m_hIcon((RegisterResources(), QIcon(":/quorvale-bootloader.svg"))),
      m_services(std::move(services)),
      m_core(*this, m_store, m_services.discoverPorts, QFile::encodeName(fileName).toStdString()) {
    CreateControls();
}

CDownloadDlg::~CDownloadDlg() {
    m_core.OnCancel();
}

int CDownloadDlg::DoModal() {
    if (!OnInitDialog()) {
        return 0;
    }
    return exec();
}

bool CDownloadDlg::OnInitDialog() {
    setWindowIcon(m_hIcon);
    return m_core.OnInitDialog();
}

void CDownloadDlg::OnCancel() {
    m_core.OnCancel();
    QDialog::reject();
}

void CDownloadDlg::reject() {
    OnCancel();
}

void CDownloadDlg::LoadFile(const QString& path) {
    m_core.LoadFile(QFile::encodeName(path).toStdString());
}

void CDownloadDlg::CreateControls() {
    setWindowTitle(DialogCaption);
    const DialogUnits units(font());
    QWidget* previousTabStop = nullptr;
    for (const TemplateControl& entry : DialogTemplate) {
        QWidget* control = MakeControl(entry, this);
        control->setGeometry(units.Rect(entry));
        control->setVisible(!entry.hidden);
        if (entry.tabStop) {
            control->setFocusPolicy(Qt::StrongFocus);
            if (previousTabStop) {
                setTabOrder(previousTabStop, control);
            }
            previousTabStop = control;
        } else {
            control->setFocusPolicy(Qt::NoFocus);
        }
        if (entry.id != IdNone) {
            m_controls[entry.id] = control;
        }
    }
    // The group box is listed after the controls it frames; it must not cover them.
    for (QGroupBox* group : findChildren<QGroupBox*>()) {
        group->lower();
    }
    setFixedSize(units.X(DialogWidthUnits), units.Y(DialogHeightUnits));

    auto* ok = static_cast<QPushButton*>(Control(IdOk));
    // Enter on a field starts the download, as in any dialog whose OK is the default button;
    // Browse and Cancel take Enter themselves while they have the focus.
    ok->setDefault(true);
    connect(static_cast<QPushButton*>(Control(IdBrowseButton)), &QPushButton::clicked, this,
            &CDownloadDlg::OnBrowse);
    connect(ok, &QPushButton::clicked, this, &CDownloadDlg::OnOK);
    connect(static_cast<QPushButton*>(Control(IdCancel)), &QPushButton::clicked, this,
            &CDownloadDlg::OnCancel);
}

QWidget* CDownloadDlg::Control(int id) const {
    const auto found = m_controls.find(id);
    return found == m_controls.end() ? nullptr : found->second;
}

QComboBox* CDownloadDlg::Combo(int id) const {
    return static_cast<QComboBox*>(Control(id));
}

void CDownloadDlg::AddItem(int id, const std::string& text) {
    Combo(id)->addItem(QString::fromLocal8Bit(text));
}

int CDownloadDlg::ItemCount(int id) const {
    return Combo(id)->count();
}

std::string CDownloadDlg::ItemText(int id, int index) const {
    return Combo(id)->itemText(index).toLocal8Bit().toStdString();
}

int CDownloadDlg::Selection(int id) const {
    return Combo(id)->currentIndex();
}

void CDownloadDlg::Select(int id, int index) {
    Combo(id)->setCurrentIndex(index);
}

void CDownloadDlg::SetText(int id, const std::string& text) {
    const QString converted = QString::fromLocal8Bit(text);
    QWidget* control = Control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->setText(converted);
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        label->setText(converted);
    }
}

void CDownloadDlg::SetToolTip(int id, const std::string& text) {
    Control(id)->setToolTip(QString::fromLocal8Bit(text));
}

void CDownloadDlg::SetEnabled(int id, bool enabled) {
    Control(id)->setEnabled(enabled);
}

void CDownloadDlg::SetVisible(int id, bool visible) {
    Control(id)->setVisible(visible);
}

void CDownloadDlg::SetProgressRange(int maximum) {
    static_cast<QProgressBar*>(Control(IdProgressBar))->setRange(0, maximum);
}

void CDownloadDlg::SetProgress(int position) {
    static_cast<QProgressBar*>(Control(IdProgressBar))->setValue(position);
}

void CDownloadDlg::SetWaitCursor(bool waiting) {
    if (waiting) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void CDownloadDlg::ShowMessage(const std::string& text) {
    m_services.showMessage(this, QString::fromLocal8Bit(text));
}

std::optional<std::string> CDownloadDlg::ChooseFirmwareFile() {
    const QString path = m_services.chooseFirmwareFile(this);
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return QFile::encodeName(path).toStdString();
}

void CDownloadDlg::Post(std::function<void()> change) {
    // Queued to the dialog's thread in the order posted; dropped once the dialog is gone.
    QMetaObject::invokeMethod(this, std::move(change), Qt::QueuedConnection);
}

}  // namespace quorvale
