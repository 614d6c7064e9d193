#include <sys/signalfd.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
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
    return ::signalfd(-1, &ending, SFD_CLOEXEC | SFD_NONBLOCK);
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
    QSocketNotifier notifier(endingSignals.get(), QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &window, [&notifier, &window] {
        notifier.setEnabled(false);
        window.close();
    });
    window.show();
    window.Start();
    return application.exec();
}
