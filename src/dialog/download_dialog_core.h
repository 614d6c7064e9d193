// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "dialog/dialog_view.h"
#include "download/progress.h"
#include "download/session.h"
#include "image/firmware_image.h"
#include "ports/port_list.h"

namespace quorvale {

// Everything the download dialog decides, free of any toolkit: its lists and their restored
// selections, OK's checks and the settings it stores and captures, the file panel, the
// worker, and what each of the worker's reports shows. A window (Qt on Linux, Win32 on
// Windows) creates the controls, forwards its events here and applies what the core asks of
// its DialogView.
class DownloadDialogCore final : public WorkerThread::Progress {
public:
    // Closed once OnCancel ran: the window goes, and nothing more reaches it.
    enum class State { Editing, Downloading, Finished, Closed };
    using PortDiscovery = std::function<PortList()>;

    DownloadDialogCore(DialogView& view, SettingsStore& store, PortDiscovery discoverPorts,
                       std::string fileName);
    // Stops a download that still runs and waits for its worker.
    ~DownloadDialogCore();
    DownloadDialogCore(const DownloadDialogCore&) = delete;
    DownloadDialogCore& operator=(const DownloadDialogCore&) = delete;

    // Fills the lists, finds the ports, restores the stored settings and loads the file the
    // command line named. Answers false when there is no port to offer: the dialog has then
    // said so and must end, with result 0.
    bool OnInitDialog();
    // Checks the choice, stores and captures the settings and starts the download; never
    // closes the dialog.
    void OnOK();
    // Stops a running download at once and waits for its worker, a few milliseconds; no
    // report reaches the view afterwards. The window closes after this.
    void OnCancel();
    void OnBrowse();
    void LoadFile(const std::string& path);

    State GetState() const { return m_state; }
    // A worker has been started and not yet joined (Cancel joins it).
    bool HasWorker() const { return m_worker.joinable(); }
    bool IsFileValid() const { return m_fileValid; }

    const char* GetPortName() const override { return m_portName.c_str(); }
    std::uint32_t GetAppBaudRate() const override { return m_line.baudRate; }
    std::uint8_t GetAppDataBits() const override { return m_line.dataBits; }
    std::uint8_t GetAppParity() const override { return static_cast<std::uint8_t>(m_line.parity); }
    std::uint8_t GetAppStopBits() const override {
        return static_cast<std::uint8_t>(m_line.stopBits);
    }
    const FirmwareImage& GetImage() const override { return m_image; }
    void ReportError(const char* text) override;
    void ReportPhase(DownloadPhase phase) override;
    void ReportProgress(std::uint32_t done, std::uint32_t total) override;

private:
    void FillSettingLists();
    void RestoreSettings();
    void SelectStoredOrFirst(int id, const char* name, const char* fallback);
    // The selected item's text, stored under `name`; answers the selected index.
    int StoreSelection(int id, const char* name);
    void StartDownload();
    // The download's own events, on the worker's thread: what the reports show, with the
    // download's own elapsed time and the system's reason for a failure.
    void OnDownloadEvent(const DownloadEvent& event);
    void ShowPhase(DownloadPhase phase, std::uint32_t elapsedMs);
    void ShowFailure(const std::string& text, const std::string& reason);
    void ShowStatus(const std::string& text);
    // Applies a report's change on the dialog's thread, unless the dialog has closed.
    void Apply(std::function<void()> change);

    DialogView& m_view;
    SettingsStore& m_store;
    const PortDiscovery m_discoverPorts;
    PortList m_ports;
    const std::string m_fileName;
    // The captured settings the worker reads; written before it starts.
    std::string m_portName;
    LineSettings m_line{0, 0, Parity::None, StopBits::One};
    bool m_fileValid = false;
    FirmwareImage m_image;
    // Read and written on the dialog's thread only.
    State m_state = State::Editing;
    // Written and read by the worker's reports only, on the worker's thread.
    std::uint32_t m_downloadStartTime = 0;
    // Last, so that it is stopped and joined before anything it reads goes away.
    std::jthread m_worker;
};

// CB_SELECTSTRING: selects the first item that begins with `text`, ignoring letter case;
// answers its index, or -1 (selection unchanged) when there is none.
int SelectString(DialogView& view, int id, const std::string& text);

// What the status line shows for a phase; Completed counts `elapsedMs` since Initiating.
std::string PhaseStatusText(DownloadPhase phase, std::uint32_t elapsedMs);

// Where the bar stands for `done` of `total` bytes, 0 to 255, rounded down.
int ProgressBarPosition(std::uint32_t done, std::uint32_t total);

// The firmware file the command line names: the first argument after the program's name
// that is not an option ("--" ends the options), or empty.
std::string FirmwareFileFromArguments(const std::vector<std::string>& arguments);

}  // namespace quorvale
