#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "download/progress.h"
#include "image/firmware_image.h"
#include "ports/serial_port.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace quorvale {

// What the dialog asks of the desktop and of the machine. Tests replace these, so that no
// modal window ever waits for a hand and a simulator's terminal can be offered as a port.
struct DialogServices {
    std::function<void(QWidget* parent, const QString& text)> showMessage;
    // The chosen file's full path, or empty when the user cancelled.
    std::function<QString(QWidget* parent)> chooseFirmwareFile;
    // May raise, as port discovery does.
    std::function<PortList()> discoverPorts;

    static DialogServices Desktop();
};

// The download dialog: pick a firmware file, a port and the application's serial settings,
// press OK, then watch the download's status and progress.
class CDownloadDlg : public QDialog, public WorkerThread::Progress {
    Q_OBJECT

public:
    explicit CDownloadDlg(QString fileName, DialogServices services = DialogServices::Desktop());
    ~CDownloadDlg() override;

    // Initialises the dialog and runs it modally; answers its result.
    int DoModal();

    bool OnInitDialog();
    void OnOK();
    void OnCancel();
    void OnBrowse();
    void LoadFile(const QString& path);

    const char* GetPortName() const override { return m_portName.c_str(); }
    std::uint32_t GetAppBaudRate() const override { return m_baudRate; }
    std::uint8_t GetAppDataBits() const override { return m_dataBits; }
    std::uint8_t GetAppParity() const override { return m_parity; }
    std::uint8_t GetAppStopBits() const override { return m_stopBits; }
    const FirmwareImage& GetImage() const override { return m_image; }
    void ReportError(const char* text) override;
    void ReportPhase(DownloadPhase phase) override;
    void ReportProgress(std::uint32_t done, std::uint32_t total) override;

    // The control with a template id, for tests and screenshots.
    QWidget* Control(int id) const;
    bool IsFileValid() const { return m_fileValid; }
    bool IsDownloading() const { return m_worker.joinable(); }

    // Escape and the close box arrive here.
    void reject() override;

private:
    void CreateControls();
    void FillSettingLists();
    void RestoreSettings();
    void StartDownload();
    // Runs on the dialog's thread, in the order posted, unless the dialog has closed.
    void Post(std::function<void()> change);
    void ShowStatus(const QString& text);

    QIcon m_hIcon;
    PortList m_ports;
    const QString m_fileName;
    std::string m_portName;
    std::uint32_t m_baudRate = 0;
    std::uint8_t m_dataBits = 0;
    std::uint8_t m_parity = 0;
    std::uint8_t m_stopBits = 0;
    bool m_fileValid = false;
    FirmwareImage m_image;
    // Written and read by the worker's reports only, on the worker's thread.
    std::uint32_t m_downloadStartTime = 0;
    bool m_closed = false;
    bool m_endAfterInit = false;
    const DialogServices m_services;

    std::map<int, QWidget*> m_controls;
    QComboBox* m_stopBitsCombo = nullptr;
    QComboBox* m_parityCombo = nullptr;
    QComboBox* m_dataBitsCombo = nullptr;
    QComboBox* m_baudCombo = nullptr;
    QLabel* m_startValue = nullptr;
    QLabel* m_lengthValue = nullptr;
    QLabel* m_hardwareValue = nullptr;
    QComboBox* m_portCombo = nullptr;
    QLabel* m_fileBaudValue = nullptr;
    QLineEdit* m_statusEdit = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QPushButton* m_browseButton = nullptr;
    QPushButton* m_okButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QLineEdit* m_fileEdit = nullptr;

    // Last, so that it is stopped and joined before anything it reads goes away.
    std::jthread m_worker;
};

// The first item whose text begins with `text`, ignoring case, becomes the selection;
// answers its index, or -1 (selection unchanged) when none does.
int SelectString(QComboBox* combo, const QString& text);

// Leading decimal digits as a number, 0 when there are none.
std::uint32_t LeadingNumber(const QString& text);

}  // namespace quorvale
