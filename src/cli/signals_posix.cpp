#include <signal.h>

#include "cli/signals.h"

namespace quorvale::cli {
namespace {

constexpr int kWakeUpSignal = SIGUSR1;

sigset_t HandledSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, kWakeUpSignal);
    return set;
}

}  // namespace

void BlockSignals() {
    const sigset_t set = HandledSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A reader of the events that goes away (`| head`, a CI log that is closed) must not cut a
    // download short, unrecorded: its writes fail instead, and the download goes on.
    ::signal(SIGPIPE, SIG_IGN);
}

int WaitForSignal() {
    const sigset_t set = HandledSignals();
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
    return signal;
}

bool IsWakeUp(int signal) {
    return signal == kWakeUpSignal;
}

void WakeUp(pthread_t thread) {
    pthread_kill(thread, kWakeUpSignal);
}

}  // namespace quorvale::cli
