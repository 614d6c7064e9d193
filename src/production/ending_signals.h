// SPDX-License-Identifier: Apache-2.0
#pragma once

// Ctrl-C, a request to terminate and a hang-up, taken as a request to end rather than an end:
// a program that holds them finishes what it must (cancels and records the downloads under
// way) and then ends by itself. The command line waits for them; the station's event loop
// watches for them.
#include <atomic>

namespace quorvale {

class EndingSignals {
public:
    // Takes them over for the calling thread and every thread it starts afterwards: make it
    // first in main, before any thread starts. A reader of the output that goes away (`| head`)
    // then fails writes instead of ending the program.
    EndingSignals();
    ~EndingSignals();
    EndingSignals(const EndingSignals&) = delete;
    EndingSignals& operator=(const EndingSignals&) = delete;

    // Waits until one arrives or Wake is called; answers whether a signal came.
    bool Wait();
    // Ends a Wait; from any thread.
    void Wake();
    // Readable once one has arrived, for an event loop; -1 where there is none (then they end
    // the program as they would without this).
    int Descriptor() const;

private:
    int m_signals = -1;
    int m_wake = -1;
    // Seen by a Wait that has no wake descriptor to be woken through.
    std::atomic<bool> m_woken{false};
};

}  // namespace quorvale
