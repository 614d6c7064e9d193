#include "ui/download_dlg.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <algorithm>
#include <chrono>
#include <system_error>

#include "download/texts.h"
#include "download/worker.h"
#include "ports/discovery.h"
#include "ui/dialog_template.h"
#include "ui/download_app.h"

// Resources linked from a static library need registering by hand.
static void RegisterResources() {
    Q_INIT_RESOURCE(resources);
}

namespace quorvale {
namespace {

constexpr char kSettingsSection[] = "SerialPort";
constexpr char kMessageCaption[] = "Quorvale Bootloader";
constexpr int kProgressMaximum = 255;

struct StoredSetting {
    const char* name;
    const char* fallback;
};
constexpr StoredSetting kPortName{"Name", ""};
constexpr StoredSetting kBaud{"Baud", "9600"};
constexpr StoredSetting kDataBits{"DataBits", "8"};
constexpr StoredSetting kParity{"parity", "None"};
constexpr StoredSetting kStopBits{"StopBits", "1"};

QString ReadSetting(const StoredSetting& setting) {
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, kVendor, kApplication);
    store.beginGroup(kSettingsSection);
    return store.value(setting.name, QString(setting.fallback)).toString();
}

void WriteSetting(const StoredSetting& setting, const QString& text) {
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, kVendor, kApplication);
    store.beginGroup(kSettingsSection);
    store.setValue(setting.name, text);
}

std::uint32_t TickCount() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

// The wait cursor for as long as the object lives, whatever path leaves the scope.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

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

template <typename Code, std::size_t N>
void Fill(QComboBox* combo, const std::array<SettingItem<Code>, N>& items) {
    for (const SettingItem<Code>& item : items) {
        combo->addItem(QString::fromUtf8(item.text));
    }
}

void SelectStoredOrFirst(QComboBox* combo, const QString& stored) {
    if (SelectString(combo, stored) < 0) {
        combo->setCurrentIndex(0);
    }
}

void DesktopMessage(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, kMessageCaption, text, QMessageBox::Ok, parent);
    box.exec();
}

QString DesktopFileChoice(QWidget* parent) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({"Quorvale file (*.qvx)", "All Files (*.*)"});
    dialog.selectNameFilter("Quorvale file (*.qvx)");
    dialog.setDefaultSuffix("bin");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().first();
}

}  // namespace

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

std::uint32_t LeadingNumber(const QString& text) {
    std::uint32_t value = 0;
    for (const QChar c : text) {
        if (c < '0' || c > '9') {
            break;
        }
        value = value * 10 + static_cast<std::uint32_t>(c.unicode() - '0');
    }
    return value;
}

CDownloadDlg::CDownloadDlg(QString fileName, DialogServices services)
    : QDialog(nullptr),
      m_hIcon((RegisterResources(), QIcon(":/quorvale-bootloader.svg"))),
      m_fileName(std::move(fileName)),
      m_services(std::move(services)) {}

CDownloadDlg::~CDownloadDlg() {
    m_closed = true;
    m_worker.request_stop();
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

int CDownloadDlg::DoModal() {
    OnInitDialog();
    if (m_endAfterInit) {
        return 0;
    }
    return exec();
}

bool CDownloadDlg::OnInitDialog() {
    CreateControls();
    setWindowIcon(m_hIcon);
    m_fileEdit->setText(m_fileName);
    try {
        m_ports = m_services.discoverPorts();
    } catch (const std::exception& error) {
        // Discovery failing leaves the technician nothing to pick from, like finding nothing.
        m_services.showMessage(this, QString::fromLocal8Bit(error.what()));
        m_ports.clear();
    }
    if (m_ports.empty()) {
        m_services.showMessage(this, DialogMessages::NoPortsAvailable);
        m_endAfterInit = true;
    }
    for (const PortEntry& port : m_ports) {
        m_portCombo->addItem(QString::fromStdString(port->GetFriendlyName()));
    }
    m_portCombo->setCurrentIndex(0);
    RestoreSettings();
    if (!m_fileName.isEmpty()) {
        LoadFile(m_fileName);
    }
    return true;
}

void CDownloadDlg::RestoreSettings() {
    m_portName = ReadSetting(kPortName).toStdString();
    for (const PortEntry& port : m_ports) {
        if (port->GetPortName() == m_portName) {
            SelectString(m_portCombo, QString::fromStdString(port->GetFriendlyName()));
            break;
        }
    }
    SelectStoredOrFirst(m_baudCombo, ReadSetting(kBaud));
    SelectStoredOrFirst(m_dataBitsCombo, ReadSetting(kDataBits));
    SelectStoredOrFirst(m_parityCombo, ReadSetting(kParity));
    SelectStoredOrFirst(m_stopBitsCombo, ReadSetting(kStopBits));
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

    m_stopBitsCombo = static_cast<QComboBox*>(Control(IdStopBitsCombo));
    m_parityCombo = static_cast<QComboBox*>(Control(IdParityCombo));
    m_dataBitsCombo = static_cast<QComboBox*>(Control(IdDataBitsCombo));
    m_baudCombo = static_cast<QComboBox*>(Control(IdBaudCombo));
    m_startValue = static_cast<QLabel*>(Control(IdStartValue));
    m_lengthValue = static_cast<QLabel*>(Control(IdLengthValue));
    m_hardwareValue = static_cast<QLabel*>(Control(IdHardwareValue));
    m_portCombo = static_cast<QComboBox*>(Control(IdPortCombo));
    m_fileBaudValue = static_cast<QLabel*>(Control(IdFileBaudValue));
    m_statusEdit = static_cast<QLineEdit*>(Control(IdStatusEdit));
    m_progressBar = static_cast<QProgressBar*>(Control(IdProgressBar));
    m_browseButton = static_cast<QPushButton*>(Control(IdBrowseButton));
    m_okButton = static_cast<QPushButton*>(Control(IdOk));
    m_cancelButton = static_cast<QPushButton*>(Control(IdCancel));
    m_fileEdit = static_cast<QLineEdit*>(Control(IdFileEdit));

    // Enter on a field starts the download, as in any dialog whose OK is the default button;
    // Browse and Cancel take Enter themselves while they have the focus.
    m_okButton->setDefault(true);
    connect(m_browseButton, &QPushButton::clicked, this, &CDownloadDlg::OnBrowse);
    connect(m_okButton, &QPushButton::clicked, this, &CDownloadDlg::OnOK);
    connect(m_cancelButton, &QPushButton::clicked, this, &CDownloadDlg::OnCancel);
    FillSettingLists();
}

void CDownloadDlg::FillSettingLists() {
    Fill(m_baudCombo, SettingLists::BaudRates);
    Fill(m_dataBitsCombo, SettingLists::DataBits);
    Fill(m_parityCombo, SettingLists::Parities);
    Fill(m_stopBitsCombo, SettingLists::StopBitsChoices);
}

QWidget* CDownloadDlg::Control(int id) const {
    const auto found = m_controls.find(id);
    return found == m_controls.end() ? nullptr : found->second;
}

void CDownloadDlg::OnOK() {
    if (m_worker.joinable()) {
        return;  // one dialog run performs one download
    }
    const int portIndex = m_portCombo->currentIndex();
    const bool portChosen = portIndex >= 0 && static_cast<std::size_t>(portIndex) < m_ports.size();
    if (!portChosen) {
        m_services.showMessage(this, DialogMessages::SelectPort);
    }
    if (!m_fileValid) {
        m_services.showMessage(this, DialogMessages::SelectValidFile);
        return;
    }
    if (!portChosen) {
        return;
    }
    m_portName = m_ports[static_cast<std::size_t>(portIndex)]->GetPortName();
    WriteSetting(kPortName, QString::fromStdString(m_portName));
    WriteSetting(kBaud, m_baudCombo->currentText());
    m_baudRate = LeadingNumber(m_baudCombo->currentText());
    WriteSetting(kDataBits, m_dataBitsCombo->currentText());
    m_dataBits = static_cast<std::uint8_t>(LeadingNumber(m_dataBitsCombo->currentText()));
    WriteSetting(kParity, m_parityCombo->currentText());
    m_parity = static_cast<std::uint8_t>(m_parityCombo->currentIndex());
    WriteSetting(kStopBits, m_stopBitsCombo->currentText());
    m_stopBits = static_cast<std::uint8_t>(m_stopBitsCombo->currentIndex());
    StartDownload();
}

void CDownloadDlg::StartDownload() {
    const WaitCursor wait;
    for (QWidget* input :
         std::initializer_list<QWidget*>{m_fileEdit, m_portCombo, m_stopBitsCombo, m_parityCombo,
                                         m_dataBitsCombo, m_baudCombo, m_browseButton}) {
        input->setEnabled(false);
    }
    m_okButton->hide();
    m_cancelButton->hide();
    m_statusEdit->show();
    m_progressBar->setRange(0, kProgressMaximum);
    m_progressBar->setValue(0);
    try {
        m_worker =
            std::jthread([this](std::stop_token stop) { DownloadWorker(this, std::move(stop)); });
    } catch (const std::system_error& error) {
        // Silence here would leave the technician waiting for a download that never began.
        m_statusEdit->setText(QString("The download could not be started: %1").arg(error.what()));
    }
}

void CDownloadDlg::OnCancel() {
    // The worker looks at its stop request at least every few milliseconds, so this wait is
    // short; after it no report can reach the dialog.
    m_worker.request_stop();
    if (m_worker.joinable()) {
        m_worker.join();
    }
    m_closed = true;
    QDialog::reject();
}

void CDownloadDlg::reject() {
    OnCancel();
}

void CDownloadDlg::OnBrowse() {
    const QString path = m_services.chooseFirmwareFile(this);
    if (!path.isEmpty()) {
        LoadFile(path);
    }
}

void CDownloadDlg::LoadFile(const QString& path) {
    m_fileValid = false;
    m_fileEdit->setText(path);
    for (QLabel* value : {m_fileBaudValue, m_hardwareValue, m_startValue, m_lengthValue}) {
        value->clear();
    }
    const LoadResult result = m_image.Load(QFile::encodeName(path).toStdString());
    if (result != LoadOk) {
        m_services.showMessage(
            this, QString::fromStdString(LoadResultMessage(result, path.toStdString())));
        return;
    }
    m_fileBaudValue->setText(QString::number(m_image.GetBaudRate()));
    m_hardwareValue->setText(QString::number(unsigned{m_image.GetHardwareCode()}));
    m_startValue->setText(QString::number(m_image.GetStartAddress()));
    m_lengthValue->setText(QString::number(m_image.GetFileSize()));
    m_fileValid = true;
}

void CDownloadDlg::Post(std::function<void()> change) {
    QMetaObject::invokeMethod(
        this,
        [this, change = std::move(change)] {
            if (!m_closed) {
                change();
            }
        },
        Qt::QueuedConnection);
}

void CDownloadDlg::ShowStatus(const QString& text) {
    m_statusEdit->setText(text);
    m_statusEdit->show();
    m_progressBar->hide();
}

void CDownloadDlg::ReportError(const char* text) {
    const QString copy = QString::fromUtf8(text);
    Post([this, copy] { ShowStatus(copy); });
}

void CDownloadDlg::ReportPhase(DownloadPhase phase) {
    QString text;
    if (phase == Initiating) {
        m_downloadStartTime = TickCount();
        text = StatusTexts::InitiatingDownload;
    } else if (phase == Completed) {
        text = QString::fromStdString(CompletedText(TickCount() - m_downloadStartTime));
    }
    Post([this, text] { ShowStatus(text); });
}

void CDownloadDlg::ReportProgress(std::uint32_t done, std::uint32_t total) {
    const auto position = static_cast<int>(done * std::uint32_t{kProgressMaximum} / total);
    Post([this, position] {
        m_statusEdit->hide();
        m_progressBar->show();
        m_progressBar->setValue(position);
    });
}

}  // namespace quorvale
