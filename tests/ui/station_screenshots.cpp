// SPDX-License-Identifier: Apache-2.0
// Shows the station window as the line sees it, in a real window, and saves what the screen
// shows at three moments: every slot waiting, downloads under way, and their results.
// Run under an X server (scripts/screenshots.sh starts Xvfb).
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>

#include "image/firmware_file.h"
#include "screenshot.h"
#include "sim/controller.h"
#include "ui/station_window.h"

using namespace quorvale;
using test::Save;
using test::WaitUntil;

namespace {

// A simulated controller plugged into a slot, as udev's link to its port.
class Plug {
public:
    Plug(const std::string& slot, sim::ControllerConfig config)
        : m_controller(std::move(config)), m_slot(slot) {
        std::filesystem::create_symlink(m_controller.PortPath(), m_slot);
    }
    ~Plug() { std::filesystem::remove(m_slot); }

private:
    sim::SimulatedController m_controller;
    std::string m_slot;
};

sim::ControllerConfig Controller(std::uint8_t hardware) {
    sim::ControllerConfig config;
    config.hardwareCode = hardware;
    config.pacedLine = true;
    return config;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const QString out = argc > 1 ? argv[1] : "docs";
    QTemporaryDir scratch;
    const std::string folder = scratch.filePath("by-path").toStdString();
    std::filesystem::create_directory(folder);

    // 8 KiB at 57600 baud: long enough to catch under way.
    std::vector<std::uint8_t> data(8192);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 13);
    }
    const std::string file = scratch.filePath("controller-v4.qvx").toStdString();
    const auto bytes = EncodeFirmwareFile({57600, 0x2000, 4, 7}, data);
    std::FILE* written = std::fopen(file.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), written);
    std::fclose(written);

    const std::vector<std::string> slots = {
        folder + "/pci-0000:00:14.0-usb-0:1:1.0-port0",
        folder + "/pci-0000:00:14.0-usb-0:2:1.0-port0",
        folder + "/pci-0000:00:14.0-usb-0:3:1.0-port0",
    };
    StationWindow window({file, slots, {}, scratch.filePath("line.jsonl").toStdString()});
    window.resize(1180, 440);
    window.show();
    window.Start();
    bool ok =
        WaitUntil([&] { return window.Tile(2).StateText() == "Waiting for a controller"; }, 5000);
    ok = Save(window, out + "/station-idle.png") && ok;

    {
        Plug earlier(slots[0], Controller(7));
        ok = WaitUntil([&] { return window.Tile(0).PassedCount() == 1; }, 10000) && ok;
    }
    Plug first(slots[0], Controller(7));
    Plug second(slots[1], Controller(7));
    Plug wrong(slots[2], Controller(9));
    ok = WaitUntil([&] { return window.Tile(1).ProgressPercent() >= 40; }, 10000) && ok;
    ok = Save(window, out + "/station-busy.png") && ok;

    ok = WaitUntil([&] { return window.Tile(1).StateText() == "Passed"; }, 10000) && ok;
    ok = Save(window, out + "/station-results.png") && ok;
    window.close();
    return ok ? 0 : 1;
}
