#include <sys/signalfd.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <memory>
#include <variant>

#include "files/regular_file.h"
#include "ui/station_app.h"
#include "ui/station_window.h"

namespace {

// Ctrl-C in the terminal that started the station, or the system shutting down, closes the
// window as its close box does, so the downloads under way are recorded as cancelled. Called
// before any thread starts, so that every thread inherits the blocked signals.
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

}  // namespace

int main(int argc, char** argv) {
    const quorvale::FileDescriptor endingSignals(BlockEndingSignals());
    // Before the application, so that --help, --version and a mistake need no display.
    QSettings settings = quorvale::StationSettings();
    auto parsed = quorvale::ParseStationArguments(argc, argv, settings);
    if (const int* exitCode = std::get_if<int>(&parsed)) {
        return *exitCode;
    }
    QApplication application(argc, argv);
    quorvale::StationWindow window(std::get<quorvale::StationOptions>(std::move(parsed)));
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
