#pragma once

#include <pthread.h>

namespace quorvale::cli {

// Blocks SIGINT, SIGTERM and the wake-up signal in the calling thread and in every thread it
// starts afterwards, so that they arrive only through WaitForSignal, and ignores SIGPIPE. Call
// it first in main.
void BlockSignals();

// Waits for SIGINT, SIGTERM or a wake-up from WakeUp; answers the signal number.
int WaitForSignal();
bool IsWakeUp(int signal);

// Ends the WaitForSignal of `thread`.
void WakeUp(pthread_t thread);

}  // namespace quorvale::cli
