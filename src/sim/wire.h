// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "sim/pseudo_terminal.h"

namespace quorvale::sim {

using Clock = std::chrono::steady_clock;

// The time one character takes on the line: start bit, data bits, parity bit, stop bits.
std::chrono::nanoseconds CharacterTime(const LineState& line);

// The controller's end of the line. Unpaced, a byte counts as received when it is read and a
// reply goes out whole when it is ready. Paced, both directions run at the rate and framing in
// force on the terminal: a byte from the tool counts as received only once it would have
// crossed the wire, and a reply's bytes are released one by one at line speed. Times are kept
// on an ideal schedule, so the controller's own wake-up delays do not add up.
class Wire {
public:
    struct Arrival {
        std::uint8_t value;
        LineState line;
        Clock::time_point readAt;     // when the controller read it from the terminal
        Clock::time_point arrivedAt;  // when it has crossed the line
    };

    // `adapterLatency` plays a USB-serial adapter on the tool's side that is not in low-latency
    // mode: it holds what arrives until its latency timer runs out, so each reply reaches the
    // tool that long after its last byte crossed the line.
    Wire(const PseudoTerminal& pty, bool paced,
         std::chrono::milliseconds adapterLatency = std::chrono::milliseconds(0))
        : m_pty(pty), m_paced(paced), m_adapterLatency(adapterLatency) {}

    // Reads what the tool has written, if anything.
    void Receive();
    // The next byte that has crossed the line by `now`.
    std::optional<Arrival> NextArrived(Clock::time_point now);
    // Sends `bytes` from `readyAt` on. A byte sent `apart` does not wait for the line to be
    // free and does not hold it (a stray late reply).
    void Send(const std::vector<std::uint8_t>& bytes, Clock::time_point readyAt,
              bool apart = false);
    // Writes every byte whose time has come.
    void ReleaseDue(Clock::time_point now);
    // When something next falls due, at the latest `limit`.
    Clock::time_point NextEvent(Clock::time_point limit) const;
    // When the last byte of the latest reply went out.
    Clock::time_point LastSent() const { return m_lastSent; }

private:
    struct Departure {
        Clock::time_point at;
        std::uint8_t value;
    };

    const PseudoTerminal& m_pty;
    const bool m_paced;
    const std::chrono::milliseconds m_adapterLatency;
    std::deque<Arrival> m_incoming;
    std::deque<Departure> m_outgoing;  // in time order
    Clock::time_point m_inboundFree;
    Clock::time_point m_outboundFree;
    Clock::time_point m_lastSent;
};

}  // namespace quorvale::sim
