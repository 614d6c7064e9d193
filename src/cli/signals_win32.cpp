// Ctrl-C and the wake-up on Windows: a console control handler and a condition variable.
#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <utility>

#include "cli/signals.h"

namespace quorvale::cli {
namespace {

constexpr int kInterrupt = 2;
constexpr int kWakeUpSignal = 10;

// The console calls its handler without any context, so what it reports to has to be
// reachable from a plain function: this is the one piece of state shared that way.
struct Signals {
    std::mutex mutex;
    std::condition_variable arrived;
    int pending = 0;

    void Raise(int signal) {
        {
            const std::lock_guard lock(mutex);
            pending = pending ? pending : signal;
        }
        arrived.notify_all();
    }
};

Signals& Shared() {
    static Signals signals;
    return signals;
}

BOOL WINAPI OnConsoleEvent(DWORD) {
    Shared().Raise(kInterrupt);
    return TRUE;
}

}  // namespace

void BlockSignals() {
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int WaitForSignal() {
    Signals& signals = Shared();
    std::unique_lock lock(signals.mutex);
    signals.arrived.wait(lock, [&] { return signals.pending != 0; });
    return std::exchange(signals.pending, 0);
}

bool IsWakeUp(int signal) {
    return signal == kWakeUpSignal;
}

void WakeUp(pthread_t) {
    Shared().Raise(kWakeUpSignal);
}

}  // namespace quorvale::cli
