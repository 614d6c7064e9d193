// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <stdexcept>
#include <thread>

#include "dialog/dialog_template.h"
#include "dialog/download_dialog_core.h"
#include "dialog/posted_changes.h"
#include "image/firmware_file.h"
#include "sim/controller.h"
#include "support/fake_ports.h"
#include "support/temp_dir.h"
#include "support/timing.h"

namespace quorvale {
namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;
using State = DownloadDialogCore::State;

// A window that only remembers what the core asked of it. Posted changes wait until the test
// runs them, as a dialog's thread would.
class FakeView final : public DialogView {
public:
    FakeView() {
        for (const TemplateControl& control : DialogTemplate) {
            visible[control.id] = !control.hidden;
            enabled[control.id] = true;
        }
    }

    std::map<int, Strings> items;
    std::map<int, int> selection;
    std::map<int, std::string> texts;
    std::map<int, std::string> toolTips;
    std::map<int, bool> enabled;
    std::map<int, bool> visible;
    int progressMaximum = -1;
    int progress = -1;
    Strings messages;
    std::optional<std::string> nextFileChoice;
    int fileChoices = 0;

    void AddItem(int id, const std::string& text) override { items[id].push_back(text); }
    int ItemCount(int id) const override { return static_cast<int>(Items(id).size()); }
    std::string ItemText(int id, int index) const override {
        return Items(id).at(static_cast<std::size_t>(index));
    }
    int Selection(int id) const override {
        const auto found = selection.find(id);
        return found == selection.end() ? -1 : found->second;
    }
    void Select(int id, int index) override { selection[id] = index < ItemCount(id) ? index : -1; }
    void SetText(int id, const std::string& text) override { texts[id] = text; }
    void SetToolTip(int id, const std::string& text) override { toolTips[id] = text; }
    void SetEnabled(int id, bool on) override { enabled[id] = on; }
    void SetVisible(int id, bool on) override { visible[id] = on; }
    void SetProgressRange(int maximum) override { progressMaximum = maximum; }
    void SetProgress(int position) override { progress = position; }
    void SetWaitCursor(bool) override {}
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    std::optional<std::string> ChooseFirmwareFile() override {
        ++fileChoices;
        return nextFileChoice;
    }
    void Post(std::function<void()> change) override { m_posted.Add(std::move(change)); }

    // Runs the posted changes in order, as the dialog's thread would.
    void RunPosted() { m_posted.RunAll(); }

    std::string Selected(int id) const {
        const int index = Selection(id);
        return index < 0 ? std::string() : ItemText(id, index);
    }
    Strings FileFields() const {
        Strings fields;
        for (const int id : {IdFileBaudValue, IdHardwareValue, IdStartValue, IdLengthValue}) {
            const auto found = texts.find(id);
            fields.push_back(found == texts.end() ? std::string() : found->second);
        }
        return fields;
    }
    std::string Status() const {
        const auto found = texts.find(IdStatusEdit);
        return found == texts.end() ? std::string() : found->second;
    }

private:
    const Strings& Items(int id) const {
        static const Strings none;
        const auto found = items.find(id);
        return found == items.end() ? none : found->second;
    }

    PostedChanges m_posted;
};

class MapStore final : public SettingsStore {
public:
    std::map<std::string, std::string> values;  // "section/name"

    std::string Read(const char* section, const char* name, const char* fallback) override {
        const auto found = values.find(Key(section, name));
        return found == values.end() ? fallback : found->second;
    }
    void Write(const char* section, const char* name, const std::string& text) override {
        values[Key(section, name)] = text;
    }
    std::string Stored(const char* name) const {
        const auto found = values.find(Key("SerialPort", name));
        return found == values.end() ? "(absent)" : found->second;
    }

private:
    static std::string Key(const char* section, const char* name) {
        return std::string(section) + "/" + name;
    }
};

using test::FakePort;
using test::kThreePorts;

class DialogCoreTest : public testing::Test {
protected:
    DownloadDialogCore& Open(const std::string& file = {}) {
        m_core.reset();
        m_view = std::make_unique<FakeView>();
        m_core.emplace(
            *m_view, m_store, [this] { return Ports(); }, file);
        m_openedWithPorts = m_core->OnInitDialog();
        return *m_core;
    }

    PortList Ports() const {
        if (!m_discoveryFailure.empty()) {
            throw std::runtime_error(m_discoveryFailure);
        }
        return test::MakePortList(m_ports);
    }

    std::string ExampleFile() {
        std::vector<std::uint8_t> data(256);
        for (int i = 0; i < 256; ++i) {
            data[i] = static_cast<std::uint8_t>(i);
        }
        return m_dir.Write("example.qvx", EncodeFirmwareFile({19200, 4096, 3, 7}, data));
    }

    // Runs what the worker posts until `done` holds or the time is up.
    template <typename Predicate>
    bool RunPostedUntil(Predicate done, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(1ms);
            m_view->RunPosted();
        }
        return true;
    }

    test::TempDir m_dir;
    std::vector<FakePort> m_ports = kThreePorts;
    std::string m_discoveryFailure;
    std::unique_ptr<FakeView> m_view;
    MapStore m_store;
    std::optional<DownloadDialogCore> m_core;
    bool m_openedWithPorts = false;
};

TEST_F(DialogCoreTest, FillsTheListsInTheirOrder) {
    Open();
    EXPECT_TRUE(m_openedWithPorts);
    EXPECT_EQ(m_view->items[IdBaudCombo].size(), 15u);
    EXPECT_EQ(m_view->items[IdBaudCombo][10], "56000");
    EXPECT_EQ(m_view->items[IdDataBitsCombo], (Strings{"6", "7", "8"}));
    EXPECT_EQ(m_view->items[IdParityCombo], (Strings{"None", "Odd", "Even", "Mark", "Space"}));
    EXPECT_EQ(m_view->items[IdStopBitsCombo], (Strings{"1", "1.5", "2"}));
    EXPECT_EQ(m_view->items[IdPortCombo][2], "USB Serial Port (COM5)");
}

TEST_F(DialogCoreTest, RestoresEachStoredSettingOrFallsBackToTheFirstItem) {
    struct Case {
        const char* name;  // nullptr: nothing stored
        std::string value;
        int control;
        const char* selected;
    };
    const Case cases[] = {
        {"Name", "COM3", IdPortCombo, "USB Serial Port (COM3)"},
        {"Name", "com3", IdPortCombo, "Communications Port (COM1)"},  // case counts for ports
        {nullptr, "", IdPortCombo, "Communications Port (COM1)"},
        {nullptr, "", IdBaudCombo, "9600"},
        {"Baud", "500", IdBaudCombo, "110"},
        {"Baud", "1152", IdBaudCombo, "115200"},  // by prefix
        {"Baud", std::string(10000, '7'), IdBaudCombo, "110"},
        {"Baud", "", IdBaudCombo, "110"},
        {"DataBits", "9", IdDataBitsCombo, "6"},
        {"parity", "even", IdParityCombo, "Even"},  // letter case counts only for ports
        {"parity", "X", IdParityCombo, "None"},
        {"parity", "\xff\xfe\x01garbage", IdParityCombo, "None"},
        {"StopBits", "1.5", IdStopBitsCombo, "1.5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name ? c.name : "nothing") + " = " + c.value.substr(0, 20));
        m_store.values.clear();
        if (c.name) {
            m_store.Write("SerialPort", c.name, c.value);
        }
        Open();
        EXPECT_EQ(m_view->Selected(c.control), c.selected);
    }
}

TEST_F(DialogCoreTest, OkRefusesWithoutPortOrFileAndChangesNothing) {
    m_ports.clear();
    Open();
    EXPECT_FALSE(m_openedWithPorts);
    m_view->messages.clear();
    m_core->OnOK();
    EXPECT_EQ(m_view->messages, (Strings{"You must select a communication port",
                                         "You must select a valid file to download"}));
    EXPECT_EQ(m_core->GetState(), State::Editing);
    EXPECT_TRUE(m_store.values.empty());

    m_ports = kThreePorts;
    Open();
    m_view->messages.clear();
    m_core->OnOK();
    EXPECT_EQ(m_view->messages, (Strings{"You must select a valid file to download"}));
    EXPECT_TRUE(m_view->visible[IdOk]);
}

TEST_F(DialogCoreTest, OkStoresTheTextsCapturesTheCodesAndStarts) {
    m_store.Write("SerialPort", "StopBits", "1.5");
    m_ports = {{"Nowhere (/nonexistent/tty)", "/nonexistent/tty"}};
    Open(ExampleFile());
    SelectString(*m_view, IdBaudCombo, "115200");
    SelectString(*m_view, IdDataBitsCombo, "7");
    SelectString(*m_view, IdParityCombo, "Space");

    m_core->OnOK();

    EXPECT_EQ(m_store.Stored("Name"), "/nonexistent/tty");
    EXPECT_EQ(m_store.Stored("Baud"), "115200");
    EXPECT_EQ(m_store.Stored("DataBits"), "7");
    EXPECT_EQ(m_store.Stored("parity"), "Space");
    EXPECT_EQ(m_store.Stored("StopBits"), "1.5");
    EXPECT_STREQ(m_core->GetPortName(), "/nonexistent/tty");
    EXPECT_EQ(m_core->GetAppBaudRate(), 115200u);
    EXPECT_EQ(m_core->GetAppDataBits(), 7);
    EXPECT_EQ(m_core->GetAppParity(), 4);
    EXPECT_EQ(m_core->GetAppStopBits(), 1);

    EXPECT_EQ(m_core->GetState(), State::Downloading);
    for (const int id : {IdFileEdit, IdBrowseButton, IdPortCombo, IdBaudCombo, IdDataBitsCombo,
                         IdParityCombo, IdStopBitsCombo}) {
        EXPECT_FALSE(m_view->enabled[id]) << id;
    }
    EXPECT_FALSE(m_view->visible[IdOk]);
    EXPECT_FALSE(m_view->visible[IdCancel]);
    EXPECT_TRUE(m_view->visible[IdStatusEdit]);
    EXPECT_EQ(m_view->progressMaximum, 255);
    EXPECT_EQ(m_view->progress, 0);

    ASSERT_TRUE(RunPostedUntil([&] { return m_core->GetState() == State::Finished; }, 2s));
    EXPECT_EQ(m_view->Status(), "Failed to open application port '/nonexistent/tty'");
    // The system's reason rests on the status box.
    EXPECT_EQ(m_view->toolTips[IdStatusEdit], "No such file or directory");
    m_core->OnOK();  // one run, one download
    EXPECT_EQ(m_core->GetState(), State::Finished);
}

TEST_F(DialogCoreTest, FilePanelShowsTheHeaderOrTheReason) {
    Open(ExampleFile());
    EXPECT_TRUE(m_view->messages.empty());
    EXPECT_EQ(m_view->FileFields(), (Strings{"19200", "7", "4096", "272"}));
    EXPECT_TRUE(m_core->IsFileValid());

    m_view->nextFileChoice.reset();  // the user cancels the file choice: the file stays
    m_core->OnBrowse();
    EXPECT_EQ(m_view->fileChoices, 1);
    EXPECT_TRUE(m_core->IsFileValid());
    EXPECT_EQ(m_view->FileFields(), (Strings{"19200", "7", "4096", "272"}));

    std::vector<std::uint8_t> corrupt =
        EncodeFirmwareFile({19200, 0, 3, 7}, std::vector<std::uint8_t>(256, 1));
    corrupt[20] ^= 1;
    const std::pair<std::string, const char*> rejected[] = {
        {m_dir.File("missing.qvx"), "Failed to open file\n'%s'"},
        {m_dir.Write("short.qvx", std::vector<std::uint8_t>(16, 0)),
         "File size is incorrect\n'%s'"},
        {m_dir.Write("page.qvx",
                     EncodeFirmwareFile({1, 0x80, 0, 0}, std::vector<std::uint8_t>(256))),
         "File page error\n'%s'"},
        {m_dir.Write("beyond.qvx",
                     EncodeFirmwareFile({1, 0xFF00, 0, 0}, std::vector<std::uint8_t>(512))),
         "File start and length exceed 64k\n'%s'"},
        {m_dir.Write("corrupt.qvx", corrupt), "File checksum is incorrect\n'%s'"},
    };
    for (const auto& [path, format] : rejected) {
        SCOPED_TRACE(path);
        m_view->messages.clear();
        m_view->nextFileChoice = path;
        m_core->OnBrowse();
        char message[512];
        std::snprintf(message, sizeof message, format, path.c_str());
        EXPECT_EQ(m_view->messages, Strings{message});
        EXPECT_FALSE(m_core->IsFileValid());
        EXPECT_EQ(m_view->FileFields(), (Strings{"", "", "", ""}));
        EXPECT_EQ(m_view->texts[IdFileEdit], path);
    }
}

TEST_F(DialogCoreTest, NoPortEndsTheDialogAfterTheCommandLinesFileIsShown) {
    m_ports.clear();
    Open(m_dir.File("missing.qvx"));
    EXPECT_FALSE(m_openedWithPorts);
    EXPECT_EQ(m_view->messages,
              (Strings{"No COM ports available on this computer - cannot download",
                       "Failed to open file\n'" + m_dir.File("missing.qvx") + "'"}));
    m_discoveryFailure = "udev is not there";
    Open();
    EXPECT_FALSE(m_openedWithPorts);
    EXPECT_EQ(m_view->messages,
              (Strings{"udev is not there",
                       "No COM ports available on this computer - cannot download"}));
}

TEST_F(DialogCoreTest, EachReportBecomesAStatusTextOrABarPosition) {
    Open();
    struct Case {
        std::function<void(DownloadDialogCore&)> report;
        const char* status;  // nullptr: the bar shows instead
        int position;
    };
    const Case cases[] = {
        {[](auto& core) { core.ReportPhase(Initiating); }, "Initiating download", -1},
        {[](auto& core) { core.ReportProgress(256, 65536); }, nullptr, 0},
        {[](auto& core) { core.ReportProgress(32768, 65536); }, nullptr, 127},
        {[](auto& core) { core.ReportPhase(Connected); }, "", -1},
        {[](auto& core) { core.ReportProgress(65536, 65536); }, nullptr, 255},
        {[](auto& core) { core.ReportError("Failed to send data block at address 4096"); },
         "Failed to send data block at address 4096", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status ? c.status : "progress");
        c.report(*m_core);
        m_view->RunPosted();
        EXPECT_EQ(m_view->visible[IdStatusEdit], c.status != nullptr);
        EXPECT_EQ(m_view->visible[IdProgressBar], c.status == nullptr);
        if (c.status) {
            EXPECT_EQ(m_view->Status(), c.status);
        } else {
            EXPECT_EQ(m_view->progress, c.position);
        }
    }

    for (const auto& [elapsedMs, text] : {std::pair<std::uint32_t, const char*>{125000, "2:05"},
                                          {59999, "0:59"},
                                          {3600000, "60:00"}}) {
        EXPECT_EQ(PhaseStatusText(Completed, elapsedMs),
                  std::string("Download completed (time taken ") + text + ")");
    }
}

TEST_F(DialogCoreTest, NothingReportedAfterCancelReachesTheWindow) {
    Open();
    m_core->ReportPhase(Initiating);
    m_core->OnCancel();
    m_view->RunPosted();
    EXPECT_EQ(m_view->Status(), "");
}

TEST_F(DialogCoreTest, DownloadsToTheSimulatorAndCancelStopsTheNextAtOnce) {
    sim::SimulatedController controller({.hardwareCode = 7});
    m_ports = {{"Simulated controller", controller.PortPath()}};
    Open(ExampleFile());
    m_core->OnOK();
    ASSERT_TRUE(RunPostedUntil([&] { return m_core->GetState() == State::Finished; }, 5s));
    EXPECT_EQ(m_view->Status().rfind("Download completed (time taken 0:0", 0), 0u)
        << m_view->Status();
    EXPECT_FALSE(m_view->visible[IdProgressBar]);
    ASSERT_TRUE(controller.WaitForDownloads(1, 1s));
    EXPECT_EQ(controller.FlashContents()[4096 + 200], 200);

    // A controller that answers late holds the next download in a reply wait.
    sim::SimulatedController slow(
        {.hardwareCode = 7, .replyFaults = {{0, sim::ReplyFault::Delay}}, .replyDelay = 900ms});
    m_ports = {{"Slow controller", slow.PortPath()}};
    Open(ExampleFile());
    m_core->OnOK();
    // Into the wait for the delayed reply: the controller has the entry request, twenty wake
    // bytes and the query.
    ASSERT_TRUE(RunPostedUntil([&] { return slow.Received().size() >= 6 + 20 + 3; }, 5s));
    const auto stopAt = std::chrono::steady_clock::now();
    m_core->OnCancel();
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, test::kTimingTolerance);
    EXPECT_FALSE(m_core->HasWorker());
    EXPECT_TRUE(OpenPort(slow.PortPath(), {}).IsValid()) << "the worker kept its port";
}

TEST(DialogCore, CommandLineFileIsTheFirstArgumentThatIsNotAnOption) {
    EXPECT_EQ(FirmwareFileFromArguments({"quorvale-bootloader"}), "");
    EXPECT_EQ(FirmwareFileFromArguments({"quorvale-bootloader", "-style", "fw.qvx"}), "fw.qvx");
    EXPECT_EQ(FirmwareFileFromArguments({"quorvale-bootloader", "--", "-odd.qvx"}), "-odd.qvx");
}

}  // namespace
}  // namespace quorvale
