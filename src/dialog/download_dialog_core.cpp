// SPDX-License-Identifier: Apache-2.0
#include "dialog/download_dialog_core.h"

#include <cctype>
#include <chrono>
#include <exception>
#include <system_error>

#include "dialog/dialog_template.h"
#include "download/texts.h"
#include "settings/remembered_line.h"

namespace quorvale {
namespace {

constexpr int kProgressMaximum = 255;

// The controls a download must not change while it runs.
constexpr int kInputs[] = {IdFileEdit,      IdPortCombo, IdStopBitsCombo, IdParityCombo,
                           IdDataBitsCombo, IdBaudCombo, IdBrowseButton};
// The file panel's values, in the order they are filled.
constexpr int kFileValues[] = {IdFileBaudValue, IdHardwareValue, IdStartValue, IdLengthValue};

std::uint32_t TickCount() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
    if (prefix.size() > text.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const auto a = static_cast<unsigned char>(text[i]);
        const auto b = static_cast<unsigned char>(prefix[i]);
        if (std::tolower(a) != std::tolower(b)) {
            return false;
        }
    }
    return true;
}

template <typename Items>
void AddItems(DialogView& view, int id, const Items& items) {
    for (const auto& item : items) {
        view.AddItem(id, item.text);
    }
}

// The code of the list's item at `index`, or `none` when nothing is selected.
template <typename Items>
auto CodeAt(const Items& items, int index, decltype(items[0].code) none) {
    return index >= 0 && static_cast<std::size_t>(index) < items.size()
               ? items[static_cast<std::size_t>(index)].code
               : none;
}

}  // namespace

int SelectString(DialogView& view, int id, const std::string& text) {
    const int count = view.ItemCount(id);
    for (int i = 0; i < count; ++i) {
        if (StartsWithIgnoringCase(view.ItemText(id, i), text)) {
            view.Select(id, i);
            return i;
        }
    }
    return -1;
}

std::string PhaseStatusText(DownloadPhase phase, std::uint32_t elapsedMs) {
    switch (phase) {
        case Initiating:
            return StatusTexts::InitiatingDownload;
        case Completed:
            return CompletedText(elapsedMs);
        default:
            return {};
    }
}

int ProgressBarPosition(std::uint32_t done, std::uint32_t total) {
    // In 32 bits, multiplying first, as the bar always has been: done never exceeds 65536.
    return static_cast<int>(done * std::uint32_t{kProgressMaximum} / total);
}

std::string FirmwareFileFromArguments(const std::vector<std::string>& arguments) {
    bool optionsEnded = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (optionsEnded || argument.empty() || argument[0] != '-') {
            return argument;
        }
    }
    return {};
}

DownloadDialogCore::DownloadDialogCore(DialogView& view, SettingsStore& store,
                                       PortDiscovery discoverPorts, std::string fileName)
    : m_view(view),
      m_store(store),
      m_discoverPorts(std::move(discoverPorts)),
      m_fileName(std::move(fileName)) {}

DownloadDialogCore::~DownloadDialogCore() {
    OnCancel();
}

bool DownloadDialogCore::OnInitDialog() {
    FillSettingLists();
    m_view.SetText(IdFileEdit, m_fileName);
    try {
        m_ports = m_discoverPorts();
    } catch (const std::exception& error) {
        // Discovery failing leaves the technician nothing to pick from, like finding nothing.
        m_view.ShowMessage(error.what());
        m_ports.clear();
    }
    if (m_ports.empty()) {
        m_view.ShowMessage(DialogMessages::NoPortsAvailable);
    }
    for (const PortEntry& port : m_ports) {
        m_view.AddItem(IdPortCombo, port->GetFriendlyName());
    }
    m_view.Select(IdPortCombo, 0);
    RestoreSettings();
    if (!m_fileName.empty()) {
        LoadFile(m_fileName);
    }
    return !m_ports.empty();
}

void DownloadDialogCore::FillSettingLists() {
    AddItems(m_view, IdBaudCombo, SettingLists::BaudRates);
    AddItems(m_view, IdDataBitsCombo, SettingLists::DataBits);
    AddItems(m_view, IdParityCombo, SettingLists::Parities);
    AddItems(m_view, IdStopBitsCombo, SettingLists::StopBitsChoices);
}

void DownloadDialogCore::RestoreSettings() {
    m_portName = m_store.Read(kLineSection, kStoredPortName.name, kStoredPortName.fallback);
    for (const PortEntry& port : m_ports) {
        if (port->GetPortName() == m_portName) {
            SelectString(m_view, IdPortCombo, port->GetFriendlyName());
            break;
        }
    }
    SelectStoredOrFirst(IdBaudCombo, kStoredBaud.name, kStoredBaud.fallback);
    SelectStoredOrFirst(IdDataBitsCombo, kStoredDataBits.name, kStoredDataBits.fallback);
    SelectStoredOrFirst(IdParityCombo, kStoredParity.name, kStoredParity.fallback);
    SelectStoredOrFirst(IdStopBitsCombo, kStoredStopBits.name, kStoredStopBits.fallback);
}

void DownloadDialogCore::SelectStoredOrFirst(int id, const char* name, const char* fallback) {
    if (SelectString(m_view, id, m_store.Read(kLineSection, name, fallback)) < 0) {
        m_view.Select(id, 0);
    }
}

void DownloadDialogCore::OnOK() {
    if (m_state != State::Editing) {
        return;  // one dialog run performs one download
    }
    const int portIndex = m_view.Selection(IdPortCombo);
    const bool portChosen = portIndex >= 0 && static_cast<std::size_t>(portIndex) < m_ports.size();
    if (!portChosen) {
        m_view.ShowMessage(DialogMessages::SelectPort);
    }
    if (!m_fileValid) {
        m_view.ShowMessage(DialogMessages::SelectValidFile);
        return;
    }
    if (!portChosen) {
        return;
    }
    m_portName = m_ports[static_cast<std::size_t>(portIndex)]->GetPortName();
    m_store.Write(kLineSection, kStoredPortName.name, m_portName);
    const int baud = StoreSelection(IdBaudCombo, kStoredBaud.name);
    m_line.baudRate = CodeAt(SettingLists::BaudRates, baud, 0u);
    const int dataBits = StoreSelection(IdDataBitsCombo, kStoredDataBits.name);
    m_line.dataBits = CodeAt(SettingLists::DataBits, dataBits, std::uint8_t{0});
    const int parity = StoreSelection(IdParityCombo, kStoredParity.name);
    m_line.parity = CodeAt(SettingLists::Parities, parity, Parity::None);
    const int stopBits = StoreSelection(IdStopBitsCombo, kStoredStopBits.name);
    m_line.stopBits = CodeAt(SettingLists::StopBitsChoices, stopBits, StopBits::One);
    StartDownload();
}

int DownloadDialogCore::StoreSelection(int id, const char* name) {
    const int index = m_view.Selection(id);
    m_store.Write(kLineSection, name, index >= 0 ? m_view.ItemText(id, index) : std::string());
    return index;
}

void DownloadDialogCore::StartDownload() {
    m_view.SetWaitCursor(true);
    for (const int id : kInputs) {
        m_view.SetEnabled(id, false);
    }
    m_view.SetVisible(IdOk, false);
    m_view.SetVisible(IdCancel, false);
    m_view.SetVisible(IdStatusEdit, true);
    m_view.SetProgressRange(kProgressMaximum);
    m_view.SetProgress(0);
    m_state = State::Downloading;
    try {
        m_worker = std::jthread([this](std::stop_token stop) {
            Download({m_portName, m_line, m_image}, std::move(stop),
                     [this](const DownloadEvent& event) { OnDownloadEvent(event); });
        });
    } catch (const std::system_error& error) {
        // Silence here would leave the technician waiting for a download that never began.
        m_view.SetText(IdStatusEdit,
                       std::string("The download could not be started: ") + error.what());
    }
    m_view.SetWaitCursor(false);
}

void DownloadDialogCore::OnCancel() {
    // The worker looks at its stop request at least every few milliseconds, so this wait is
    // short; after it no report can reach the view.
    m_state = State::Closed;
    m_worker.request_stop();
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

void DownloadDialogCore::OnBrowse() {
    if (const auto path = m_view.ChooseFirmwareFile()) {
        LoadFile(*path);
    }
}

void DownloadDialogCore::LoadFile(const std::string& path) {
    m_fileValid = false;
    m_view.SetText(IdFileEdit, path);
    for (const int id : kFileValues) {
        m_view.SetText(id, {});
    }
    const LoadResult result = m_image.Load(path);
    if (result != LoadOk) {
        m_view.ShowMessage(LoadResultMessage(result, path));
        return;
    }
    m_view.SetText(IdFileBaudValue, std::to_string(m_image.GetBaudRate()));
    m_view.SetText(IdHardwareValue, std::to_string(unsigned{m_image.GetHardwareCode()}));
    m_view.SetText(IdStartValue, std::to_string(m_image.GetStartAddress()));
    m_view.SetText(IdLengthValue, std::to_string(m_image.GetFileSize()));
    m_fileValid = true;
}

void DownloadDialogCore::Apply(std::function<void()> change) {
    m_view.Post([this, change = std::move(change)] {
        if (m_state != State::Closed) {
            change();
        }
    });
}

void DownloadDialogCore::ShowStatus(const std::string& text) {
    m_view.SetText(IdStatusEdit, text);
    m_view.SetVisible(IdStatusEdit, true);
    m_view.SetVisible(IdProgressBar, false);
}

void DownloadDialogCore::OnDownloadEvent(const DownloadEvent& event) {
    switch (event.kind) {
        case DownloadEvent::Kind::Phase:
            ShowPhase(event.phase, event.elapsedMs);
            break;
        case DownloadEvent::Kind::Progress:
            ReportProgress(event.done, event.total);
            break;
        case DownloadEvent::Kind::End:
            // A completion was its phase; a cancellation comes only as the dialog closes.
            if (event.outcome->Failed()) {
                ShowFailure(event.outcome->message, event.outcome->reason);
            }
            break;
    }
}

void DownloadDialogCore::ReportError(const char* text) {
    ShowFailure(text, {});
}

void DownloadDialogCore::ReportPhase(DownloadPhase phase) {
    // Reports through the interface carry no time: the dialog keeps its own from Initiating.
    if (phase == Initiating) {
        m_downloadStartTime = TickCount();
    }
    ShowPhase(phase, TickCount() - m_downloadStartTime);
}

void DownloadDialogCore::ShowPhase(DownloadPhase phase, std::uint32_t elapsedMs) {
    const std::string text = PhaseStatusText(phase, phase == Completed ? elapsedMs : 0);
    Apply([this, phase, text] {
        ShowStatus(text);
        if (phase == Completed) {
            m_state = State::Finished;
        }
    });
}

void DownloadDialogCore::ShowFailure(const std::string& text, const std::string& reason) {
    // The status box keeps the download's own text; the system's reason rests on it.
    Apply([this, text, reason] {
        m_view.SetVisible(IdStatusEdit, true);
        m_view.SetVisible(IdProgressBar, false);
        m_view.SetText(IdStatusEdit, text);
        m_view.SetToolTip(IdStatusEdit, reason);
        m_state = State::Finished;
    });
}

void DownloadDialogCore::ReportProgress(std::uint32_t done, std::uint32_t total) {
    Apply([this, position = ProgressBarPosition(done, total)] {
        m_view.SetVisible(IdStatusEdit, false);
        m_view.SetVisible(IdProgressBar, true);
        m_view.SetProgress(position);
    });
}

}  // namespace quorvale
