// SPDX-License-Identifier: Apache-2.0
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <cstdlib>
#include <memory>
#include <variant>

#include "production/ending_signals.h"
#include "station/station_texts.h"
#include "ui/station_app.h"
#include "ui/station_window.h"

namespace {

// Started from a menu or a file manager: no terminal anywhere, so standard error goes nowhere a
// technician looks, and there is a display to say it on. A script or a terminal keeps the
// plain message and the exit code.
bool StartedFromDesktop() {
    const bool display = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
    return display && !::isatty(STDIN_FILENO) && !::isatty(STDOUT_FILENO) &&
           !::isatty(STDERR_FILENO);
}

}  // namespace

int main(int argc, char** argv) {
    // Before the application, so that --help, --version and a mistake need no display.
    QSettings settings = quorvale::StationSettings();
    auto parsed = quorvale::ParseStationArguments(argc, argv, settings);
    if (const auto* end = std::get_if<quorvale::StationEnd>(&parsed)) {
        if (!end->error.empty() && StartedFromDesktop()) {
            QApplication application(argc, argv);
            QMessageBox::critical(nullptr, quorvale::StationTexts::Title,
                                  QString::fromStdString(end->error));
        }
        return end->exitCode;
    }
    // Ctrl-C in the terminal that started the station, or the system shutting down, closes
    // the window as its close box does, so the downloads under way are recorded as cancelled.
    const quorvale::EndingSignals endingSignals;
    QApplication application(argc, argv);
    const auto& options = std::get<quorvale::StationOptions>(parsed);
    quorvale::StationWindow window(options);
    if (!window.Refused()) {
        // Only a station that could start is offered again.
        quorvale::RememberStation(options, settings);
    }
    std::unique_ptr<QSocketNotifier> notifier;
    if (endingSignals.Descriptor() >= 0) {
        notifier =
            std::make_unique<QSocketNotifier>(endingSignals.Descriptor(), QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, &window, [&] {
            notifier->setEnabled(false);
            window.close();
        });
    }
    window.show();
    window.Start();
    return application.exec();
}
