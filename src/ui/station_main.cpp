#include <sys/signalfd.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <variant>

#include "files/regular_file.h"
#include "ui/station_app.h"
#include "ui/station_texts.h"
#include "ui/station_window.h"

namespace {

// Ctrl-C in the terminal that started the station, or the system shutting down, closes the
// window as its close box does, so the downloads under way are recorded as cancelled. Called
// before the application starts any thread, so that every thread inherits the blocked signals.
int BlockEndingSignals() {
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    const int fd = ::signalfd(-1, &ending, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd < 0) {
        // Without the descriptor they would never be seen: let them end the station as before.
        pthread_sigmask(SIG_UNBLOCK, &ending, nullptr);
    }
    return fd;
}

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
    const quorvale::FileDescriptor endingSignals(BlockEndingSignals());
    QApplication application(argc, argv);
    const auto& options = std::get<quorvale::StationOptions>(parsed);
    quorvale::StationWindow window(options);
    if (!window.Refused()) {
        // Only a station that could start is offered again.
        quorvale::RememberStation(options, settings);
    }
    std::unique_ptr<QSocketNotifier> notifier;
    if (endingSignals.get() >= 0) {
        notifier = std::make_unique<QSocketNotifier>(endingSignals.get(), QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, &window, [&] {
            notifier->setEnabled(false);
            window.close();
        });
    }
    window.show();
    window.Start();
    return application.exec();
}
