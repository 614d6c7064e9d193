// SPDX-License-Identifier: Apache-2.0
// Ctrl-C, Ctrl-Break and the console closing on Windows: a console control handler.
#include <windows.h>

#include <condition_variable>
#include <mutex>

#include "production/ending_signals.h"

namespace quorvale {
namespace {

// The console calls its handler without any context, so what it reports to has to be
// reachable from a plain function: this is the one piece of state shared that way.
struct Arrivals {
    std::mutex mutex;
    std::condition_variable arrived;
    bool signalled = false;
    bool woken = false;
};

Arrivals& Shared() {
    static Arrivals arrivals;
    return arrivals;
}

BOOL WINAPI OnConsoleEvent(DWORD) {
    Arrivals& arrivals = Shared();
    {
        const std::lock_guard lock(arrivals.mutex);
        arrivals.signalled = true;
    }
    arrivals.arrived.notify_all();
    return TRUE;
}

}  // namespace

EndingSignals::EndingSignals() {
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

EndingSignals::~EndingSignals() {
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

bool EndingSignals::Wait() {
    Arrivals& arrivals = Shared();
    std::unique_lock lock(arrivals.mutex);
    arrivals.arrived.wait(lock, [&] { return arrivals.signalled || arrivals.woken; });
    const bool signalled = arrivals.signalled;
    arrivals.signalled = arrivals.woken = false;
    return signalled;
}

void EndingSignals::Wake() {
    Arrivals& arrivals = Shared();
    {
        const std::lock_guard lock(arrivals.mutex);
        arrivals.woken = true;
    }
    arrivals.arrived.notify_all();
}

int EndingSignals::Descriptor() const {
    return -1;
}

}  // namespace quorvale
