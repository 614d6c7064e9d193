// SPDX-License-Identifier: Apache-2.0
#include "ui/download_dlg.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <thread>

#include "dialog/dialog_template.h"
#include "image/firmware_file.h"
#include "sim/controller.h"
#include "support/fake_ports.h"
#include "support/timing.h"
#include "ui/download_app.h"

using namespace quorvale;
using namespace std::chrono_literals;

namespace {

using test::FakePort;
using test::kThreePorts;

// Services that never block: messages are recorded, the file choice is scripted, and the
// port list is whatever the test offers.
struct FakeDesktop {
    QStringList messages;
    QString nextFileChoice;
    int fileChoices = 0;
    std::vector<FakePort> ports = kThreePorts;
    std::string failure;  // discovery raises this when set

    DialogServices Services() {
        return {[this](QWidget*, const QString& text) { messages << text; },
                [this](QWidget*) {
                    ++fileChoices;
                    return nextFileChoice;
                },
                [this] {
                    if (!failure.empty()) {
                        throw std::runtime_error(failure);
                    }
                    return test::MakePortList(ports);
                }};
    }
};

template <typename T>
T* ControlOf(const CDownloadDlg& dialog, int id) {
    return static_cast<T*>(dialog.Control(id));
}

QString Stored(const char* name) {
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, kVendor, kApplication);
    return store.value(QString("SerialPort/") + name).toString();
}

}  // namespace

class DownloadDialogTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_settingsDir;
    QTemporaryDir m_files;
    FakeDesktop m_desktop;

    void Store(const char* name, const QString& value) {
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, kVendor, kApplication);
        store.setValue(QString("SerialPort/") + name, value);
    }

    QString WriteFile(const QString& name, const std::vector<std::uint8_t>& bytes) {
        const QString path = m_files.filePath(name);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
        return path;
    }

    QString ExampleFile() {
        std::vector<std::uint8_t> data(256);
        for (int i = 0; i < 256; ++i) {
            data[i] = static_cast<std::uint8_t>(i);
        }
        return WriteFile("example.qvx", EncodeFirmwareFile({19200, 4096, 3, 7}, data));
    }

    std::unique_ptr<CDownloadDlg> OpenDialog(const QString& file = {}) {
        auto dialog = std::make_unique<CDownloadDlg>(file, m_desktop.Services());
        dialog->OnInitDialog();
        dialog->show();
        return dialog;
    }

    // A simulated controller with the example file's hardware code, offered as the only port,
    // and a dialog with the example file loaded.
    struct Rig {
        std::unique_ptr<sim::SimulatedController> controller;
        std::unique_ptr<CDownloadDlg> dialog;
    };
    Rig RigAgainst(sim::ControllerConfig config) {
        config.hardwareCode = 7;
        auto controller = std::make_unique<sim::SimulatedController>(config);
        m_desktop.ports = {{"Simulated controller", controller->PortPath()}};
        return {std::move(controller), OpenDialog(ExampleFile())};
    }

    QStringList FileFields(const CDownloadDlg& dialog) {
        QStringList fields;
        for (int id : {IdFileBaudValue, IdHardwareValue, IdStartValue, IdLengthValue}) {
            fields << ControlOf<QLabel>(dialog, id)->text();
        }
        return fields;
    }

    QString Status(const CDownloadDlg& dialog) {
        return ControlOf<QLineEdit>(dialog, IdStatusEdit)->text();
    }

private Q_SLOTS:
    void initTestCase() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    }

    void init() {
        QSettings(QSettings::NativeFormat, QSettings::UserScope, kVendor, kApplication).clear();
        m_desktop = FakeDesktop();
    }

    void templateAndLists() {
        const auto dialog = OpenDialog();
        QCOMPARE(dialog->windowTitle(), QString("Quorvale Bootloader v1.0"));
        QCOMPARE(ControlOf<QComboBox>(*dialog, IdBaudCombo)->count(), 15);
        QCOMPARE(ControlOf<QComboBox>(*dialog, IdBaudCombo)->itemText(10), QString("56000"));
        QCOMPARE(ControlOf<QComboBox>(*dialog, IdParityCombo)->itemText(4), QString("Space"));
        QCOMPARE(ControlOf<QComboBox>(*dialog, IdStopBitsCombo)->itemText(1), QString("1.5"));
        QCOMPARE(ControlOf<QComboBox>(*dialog, IdPortCombo)->itemText(2),
                 QString("USB Serial Port (COM5)"));
        QVERIFY(!dialog->Control(IdStatusEdit)->isVisible());
        QVERIFY(!dialog->Control(IdProgressBar)->isVisible());
        QVERIFY(ControlOf<QLineEdit>(*dialog, IdFileEdit)->isReadOnly());
        // Controls sit where the template puts them: the bottom band shares one line.
        QCOMPARE(dialog->Control(IdOk)->y(), dialog->Control(IdStatusEdit)->y());
        QVERIFY(dialog->Control(IdBrowseButton)->x() >
                dialog->Control(IdFileEdit)->geometry().right());
    }

    void allFilesListsFilesWithoutAnExtension() {
        QFileDialog dialog;
        SetFirmwareFilters(dialog);
        auto* model = dialog.findChild<QFileSystemModel*>();
        QVERIFY(model);
        QCOMPARE(dialog.selectedNameFilter(), kFirmwareFilter);
        QCOMPARE(model->nameFilters(), QStringList{"*.qvx"});
        // As the technician picks it from the list.
        auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
        QVERIFY(types);
        types->setCurrentIndex(1);
        Q_EMIT types->activated(1);
        Q_EMIT types->textActivated(types->currentText());
        QCOMPARE(dialog.selectedNameFilter(), QString("All Files (*.*)"));
        QCOMPARE(model->nameFilters(), QStringList{"*"});
    }

    void oddStoredValuesFallBackToTheFirstItem() {
        // Written by hand as a damaged or foreign store would be: garbage, empty, very long
        // and non-text values.
        const QString file =
            QSettings(QSettings::NativeFormat, QSettings::UserScope, kVendor, kApplication)
                .fileName();
        QDir().mkpath(QFileInfo(file).path());
        QFile ini(file);
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[SerialPort]\nName=\xff\xfe\x01garbage\nBaud=" + QByteArray(10000, '7') +
                  "\nDataBits=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x12)\nparity=a, b, c\nStopBits=\n");
        ini.close();

        const auto dialog = OpenDialog(ExampleFile());
        QCOMPARE(ControlOf<QComboBox>(*dialog, IdPortCombo)->currentIndex(), 0);
        QCOMPARE(ControlOf<QComboBox>(*dialog, IdBaudCombo)->currentText(), QString("110"));
        QCOMPARE(ControlOf<QComboBox>(*dialog, IdDataBitsCombo)->currentText(), QString("6"));
        QCOMPARE(ControlOf<QComboBox>(*dialog, IdParityCombo)->currentText(), QString("None"));
        QCOMPARE(ControlOf<QComboBox>(*dialog, IdStopBitsCombo)->currentText(), QString("1"));

        // OK writes plain text over whatever was there.
        m_desktop.ports = {{"Nowhere (/nonexistent/tty)", "/nonexistent/tty"}};
        const auto again = OpenDialog(ExampleFile());
        again->OnOK();
        QCOMPARE(Stored("Baud"), QString("110"));
        QCOMPARE(Stored("parity"), QString("None"));
        QTRY_VERIFY(!Status(*again).isEmpty());
    }

    void okStoresTheSettingsInQSettingsAndTheNextRunRestoresThem() {
        Store("StopBits", "1.5");
        m_desktop.ports = {{"Nowhere (/nonexistent/tty)", "/nonexistent/tty"}};
        const auto dialog = OpenDialog(ExampleFile());
        SelectString(ControlOf<QComboBox>(*dialog, IdBaudCombo), "115200");
        SelectString(ControlOf<QComboBox>(*dialog, IdParityCombo), "Space");

        dialog->OnOK();

        QCOMPARE(Stored("Name"), QString("/nonexistent/tty"));
        QCOMPARE(Stored("Baud"), QString("115200"));
        QCOMPARE(Stored("DataBits"), QString("8"));
        QCOMPARE(Stored("parity"), QString("Space"));
        QCOMPARE(Stored("StopBits"), QString("1.5"));
        QTRY_COMPARE(Status(*dialog),
                     QString("Failed to open application port '/nonexistent/tty'"));

        const auto next = OpenDialog();
        QCOMPARE(ControlOf<QComboBox>(*next, IdBaudCombo)->currentText(), QString("115200"));
        QCOMPARE(ControlOf<QComboBox>(*next, IdParityCombo)->currentText(), QString("Space"));
        QCOMPARE(ControlOf<QComboBox>(*next, IdStopBitsCombo)->currentText(), QString("1.5"));
    }

    void reportsMoveTheBarAndTheStatus() {
        const auto dialog = OpenDialog();
        auto* bar = ControlOf<QProgressBar>(*dialog, IdProgressBar);
        bar->setRange(0, 255);
        const std::pair<std::uint32_t, int> positions[] = {{256, 0}, {32768, 127}, {65536, 255}};
        for (const auto& [done, position] : positions) {
            dialog->Core().ReportProgress(done, 65536);
            QTRY_COMPARE(bar->value(), position);
            QVERIFY(bar->isVisible());
            QVERIFY(!dialog->Control(IdStatusEdit)->isVisible());
        }
        dialog->Core().ReportPhase(Connected);
        QTRY_VERIFY(!bar->isVisible());
        QVERIFY(dialog->Control(IdStatusEdit)->isVisible());
        QCOMPARE(Status(*dialog), QString());
    }

    void downloadsToTheSimulator() {
        sim::ControllerConfig config;
        const auto [controller, dialog] = RigAgainst(config);

        dialog->OnOK();

        QVERIFY(dialog->IsDownloading());
        for (int id : {IdFileEdit, IdBrowseButton, IdPortCombo, IdBaudCombo, IdDataBitsCombo,
                       IdParityCombo, IdStopBitsCombo}) {
            QVERIFY(!dialog->Control(id)->isEnabled());
        }
        QTRY_VERIFY_WITH_TIMEOUT(Status(*dialog).startsWith("Download completed (time taken 0:0"),
                                 5000);
        QVERIFY(QRegularExpression("^Download completed \\(time taken 0:0\\d\\)$")
                    .match(Status(*dialog))
                    .hasMatch());
        QVERIFY(!dialog->Control(IdOk)->isVisible());
        QVERIFY(!dialog->Control(IdCancel)->isVisible());
        QVERIFY(!dialog->Control(IdProgressBar)->isVisible());
        QVERIFY(!dialog->Control(IdBaudCombo)->isEnabled());
        QVERIFY(controller->WaitForDownloads(1, 1000ms));
        const auto flash = controller->FlashContents();
        for (int i = 0; i < 256; ++i) {
            QCOMPARE(int(flash[4096 + i]), i);
        }
    }

    void failureShowsItsTextWithTheBarHidden() {
        sim::ControllerConfig config;
        config.refuseBlockAt = 4096;
        const auto [controller, dialog] = RigAgainst(config);
        dialog->OnOK();
        QTRY_COMPARE(Status(*dialog), QString("Failed to send data block at address 4096"));
        QVERIFY(!dialog->Control(IdProgressBar)->isVisible());
        QVERIFY(!dialog->Control(IdOk)->isVisible());
    }

    void controllerPulledOutShowsTheFailure() {
        sim::ControllerConfig config;
        config.replyFaults = {{2, sim::ReplyFault::Delay}};
        config.replyDelay = 900ms;
        const auto [controller, dialog] = RigAgainst(config);
        dialog->OnOK();
        QTRY_COMPARE(Status(*dialog), QString("Initiating download"));
        QTRY_COMPARE(Status(*dialog), QString(""));  // Connected: the first block is on its way
        controller->Disconnect();
        QTRY_COMPARE_WITH_TIMEOUT(Status(*dialog),
                                  QString("Failed to send data block at address 4096"), 6000);
        QVERIFY(!dialog->Control(IdProgressBar)->isVisible());
        dialog->reject();
        QVERIFY(!dialog->IsDownloading());
    }

    void cancelStopsTheWorkerAndClosesAtOnce() {
        sim::ControllerConfig config;
        config.replyFaults = {{0, sim::ReplyFault::Delay}};
        config.replyDelay = 900ms;
        const auto [controller, dialog] = RigAgainst(config);
        dialog->OnOK();
        // Into the wait for the delayed reply: the controller has the entry request, twenty
        // wake bytes and the query.
        QTRY_VERIFY(controller->Received().size() >= 6 + 20 + 3);

        QElapsedTimer timer;
        timer.start();
        dialog->reject();
        QVERIFY(timer.elapsed() < test::kTimingTolerance.count());
        QVERIFY(!dialog->IsDownloading());
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        // Nothing the worker said before it stopped reaches the closed dialog.
        const QString statusAtClose = Status(*dialog);
        QTest::qWait(50);
        QCOMPARE(Status(*dialog), statusAtClose);
    }

    void enterPressesOkUnlessAButtonHasTheFocus() {
        const auto dialog = OpenDialog();  // no file: OK answers with its message
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
        const QStringList okPressed{"You must select a valid file to download"};
        for (const int id : {IdFileEdit, IdPortCombo, IdBaudCombo, IdStopBitsCombo}) {
            m_desktop.messages.clear();
            dialog->Control(id)->setFocus();
            QTest::keyClick(dialog->Control(id), Qt::Key_Return);
            QCOMPARE(m_desktop.messages, okPressed);
        }

        m_desktop.messages.clear();
        dialog->Control(IdBrowseButton)->setFocus();
        QTest::keyClick(dialog->Control(IdBrowseButton), Qt::Key_Return);
        QCOMPARE(m_desktop.fileChoices, 1);
        QCOMPARE(m_desktop.messages, QStringList());

        dialog->Control(IdCancel)->setFocus();
        QTest::keyClick(dialog->Control(IdCancel), Qt::Key_Return);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QVERIFY(m_desktop.messages.isEmpty());

        const auto second = OpenDialog();
        second->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(second.get()));
        QTest::keyClick(second->Control(IdPortCombo), Qt::Key_Escape);
        QVERIFY(!second->isVisible());
        QCOMPARE(second->result(), int(QDialog::Rejected));
    }

    void noPortEndsTheDialog() {
        m_desktop.ports = {};
        CDownloadDlg dialog(m_files.filePath("missing.qvx"), m_desktop.Services());
        QCOMPARE(dialog.DoModal(), 0);
        QCOMPARE(m_desktop.messages,
                 QStringList({"No COM ports available on this computer - cannot download",
                              "Failed to open file\n'" + m_files.filePath("missing.qvx") + "'"}));

        m_desktop.messages.clear();
        m_desktop.failure = "udev is not there";
        CDownloadDlg failing(QString(), m_desktop.Services());
        QCOMPARE(failing.DoModal(), 0);
        QCOMPARE(m_desktop.messages,
                 QStringList({"udev is not there",
                              "No COM ports available on this computer - cannot download"}));
    }
};

QTEST_MAIN(DownloadDialogTest)
#include "download_dlg_test.moc"
