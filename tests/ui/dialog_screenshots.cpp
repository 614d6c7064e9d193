// SPDX-License-Identifier: Apache-2.0
// Shows the download dialog as a technician sees it, in a real window, and saves what the
// screen shows at three moments: a file loaded, a download under way, a download finished.
// Run under an X server (scripts/screenshots.sh starts Xvfb).
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <functional>
#include <memory>

#include "dialog/dialog_template.h"
#include "image/firmware_file.h"
#include "screenshot.h"
#include "sim/controller.h"
#include "ui/download_app.h"
#include "ui/download_dlg.h"

using namespace quorvale;
using test::Save;
using test::WaitUntil;

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const QString out = argc > 1 ? argv[1] : "docs";
    QTemporaryDir scratch;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, scratch.path());

    // 4 KiB to 0x2000; block 9's reply comes late, which holds the bar half way.
    std::vector<std::uint8_t> data(4096);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 13);
    }
    const auto file = EncodeFirmwareFile({57600, 0x2000, 4, 7}, data);
    const QString path = scratch.filePath("controller-v4.qvx");
    QFile written(path);
    written.open(QIODevice::WriteOnly);
    written.write(reinterpret_cast<const char*>(file.data()), static_cast<qint64>(file.size()));
    written.close();

    sim::ControllerConfig config;
    config.hardwareCode = 7;
    config.application.baudRate = 115200;
    config.replyFaults = {{2 + 8, sim::ReplyFault::Delay}};
    config.replyDelay = std::chrono::milliseconds(800);
    sim::SimulatedController controller(config);
    const std::string port = controller.PortPath();

    DialogServices services = DialogServices::Desktop();
    services.discoverPorts = [&] {
        PortList ports;
        const std::string name = "Simulated controller (" + port + ")";
        ports.push_back(std::make_unique<SerialPort>(name, port, port, true));
        return ports;
    };
    auto dialog = std::make_unique<CDownloadDlg>(path, services);
    dialog->OnInitDialog();
    SelectString(static_cast<QComboBox*>(dialog->Control(IdBaudCombo)), "115200");
    dialog->show();

    bool ok = Save(*dialog, out + "/dialog-ready.png");
    dialog->OnOK();
    auto* bar = static_cast<QProgressBar*>(dialog->Control(IdProgressBar));
    ok = WaitUntil([&] { return bar->isVisible() && bar->value() >= 120; }, 5000) && ok;
    ok = Save(*dialog, out + "/dialog-downloading.png") && ok;
    auto* status = static_cast<QLineEdit*>(dialog->Control(IdStatusEdit));
    ok = WaitUntil([&] { return status->text().startsWith("Download completed"); }, 5000) && ok;
    ok = Save(*dialog, out + "/dialog-completed.png") && ok;
    dialog->reject();
    return ok ? 0 : 1;
}
