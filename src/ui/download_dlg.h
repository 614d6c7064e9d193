// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QDialog>
#include <QFileDialog>
#include <QIcon>
#include <QSettings>
#include <QString>
#include <functional>
#include <map>

#include "dialog/dialog_view.h"
#include "dialog/download_dialog_core.h"
#include "ports/port_list.h"
#include "ui/qsettings_store.h"

class QComboBox;

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

// The download dialog drawn with Qt: the controls of the template, laid out in dialog units,
// with every decision left to the dialog's core.
class CDownloadDlg : public QDialog, private DialogView {
    Q_OBJECT

public:
    explicit CDownloadDlg(QString fileName, DialogServices services = DialogServices::Desktop());
    ~CDownloadDlg() override;

    // Initialises the dialog and runs it modally; answers its result.
    int DoModal();

    bool OnInitDialog();
    void OnOK() { m_core.OnOK(); }
    void OnCancel();
    void OnBrowse() { m_core.OnBrowse(); }
    void LoadFile(const QString& path);

    // The control with a template id, for tests and screenshots.
    QWidget* Control(int id) const;
    const DownloadDialogCore& Core() const { return m_core; }
    DownloadDialogCore& Core() { return m_core; }
    bool IsFileValid() const { return m_core.IsFileValid(); }
    bool IsDownloading() const { return m_core.HasWorker(); }

    // Escape and the close box arrive here.
    void reject() override;

private:
    void CreateControls();
    QComboBox* Combo(int id) const;

    void AddItem(int id, const std::string& text) override;
    int ItemCount(int id) const override;
    std::string ItemText(int id, int index) const override;
    int Selection(int id) const override;
    void Select(int id, int index) override;
    void SetText(int id, const std::string& text) override;
    void SetToolTip(int id, const std::string& text) override;
    void SetEnabled(int id, bool enabled) override;
    void SetVisible(int id, bool visible) override;
    void SetProgressRange(int maximum) override;
    void SetProgress(int position) override;
    void SetWaitCursor(bool waiting) override;
    void ShowMessage(const std::string& text) override;
    std::optional<std::string> ChooseFirmwareFile() override;
    void Post(std::function<void()> change) override;

    QIcon m_hIcon;
    const DialogServices m_services;
    // The per-user settings: vendor "Quorvale", application "Bootloader".
    QSettings m_settings{QSettings::NativeFormat, QSettings::UserScope, kVendor, kApplication};
    QSettingsStore m_store{m_settings};
    std::map<int, QWidget*> m_controls;
    // Last, so that it stops the worker before the controls and services go.
    DownloadDialogCore m_core;
};

// The open-file dialog's filters: the firmware files first; "All Files (*.*)" lists every file,
// with an extension or without.
inline const QString kFirmwareFilter = "Quorvale file (*.qvx)";
inline const QString kAllFilesFilter = "All Files (*.*)";
void SetFirmwareFilters(QFileDialog& dialog);

// The first item whose text begins with `text`, ignoring case, becomes the selection;
// answers its index, or -1 (selection unchanged) when none does.
int SelectString(QComboBox* combo, const QString& text);

}  // namespace quorvale
