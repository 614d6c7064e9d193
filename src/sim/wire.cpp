// SPDX-License-Identifier: Apache-2.0
#include "sim/wire.h"

#include <unistd.h>

#include <algorithm>

namespace quorvale::sim {

std::chrono::nanoseconds CharacterTime(const LineState& line) {
    if (line.baudRate == 0) {
        return {};
    }
    const unsigned bits =
        1u + line.dataBits + (line.parity ? 1u : 0u) + (line.twoStopBits ? 2u : 1u);
    return std::chrono::nanoseconds(bits * 1'000'000'000ull / line.baudRate);
}

void Wire::Receive() {
    std::uint8_t chunk[1024];
    const ssize_t got = ::read(m_pty.MasterFd(), chunk, sizeof chunk);
    if (got <= 0) {
        return;
    }
    const LineState line = m_pty.ReadLineState();
    const auto now = Clock::now();
    const auto perByte = m_paced ? CharacterTime(line) : std::chrono::nanoseconds{};
    for (ssize_t i = 0; i < got; ++i) {
        m_inboundFree = std::max(m_inboundFree, now) + perByte;
        m_incoming.push_back({chunk[i], line, now, m_inboundFree});
    }
}

std::optional<Wire::Arrival> Wire::NextArrived(Clock::time_point now) {
    if (m_incoming.empty() || m_incoming.front().arrivedAt > now) {
        return std::nullopt;
    }
    const Arrival next = m_incoming.front();
    m_incoming.pop_front();
    return next;
}

void Wire::Send(const std::vector<std::uint8_t>& bytes, Clock::time_point readyAt, bool apart) {
    const auto perByte =
        m_paced ? CharacterTime(m_pty.ReadLineState()) : std::chrono::nanoseconds{};
    auto at = apart ? readyAt : std::max(readyAt, m_outboundFree);
    std::vector<Departure> scheduled;
    for (const std::uint8_t value : bytes) {
        at += perByte;
        scheduled.push_back({at, value});
    }
    if (!apart) {
        m_outboundFree = at;
    }
    if (m_adapterLatency.count() > 0) {
        for (Departure& departure : scheduled) {
            departure.at = at + m_adapterLatency;
        }
    }
    for (const Departure& departure : scheduled) {
        const auto later =
            std::upper_bound(m_outgoing.begin(), m_outgoing.end(), departure.at,
                             [](Clock::time_point t, const Departure& d) { return t < d.at; });
        m_outgoing.insert(later, departure);
    }
}

void Wire::ReleaseDue(Clock::time_point now) {
    std::vector<std::uint8_t> due;
    while (!m_outgoing.empty() && m_outgoing.front().at <= now) {
        due.push_back(m_outgoing.front().value);
        m_outgoing.pop_front();
    }
    if (!due.empty()) {
        m_pty.Write(due.data(), due.size());
        m_lastSent = Clock::now();
    }
}

Clock::time_point Wire::NextEvent(Clock::time_point limit) const {
    auto next = limit;
    if (!m_incoming.empty()) {
        next = std::min(next, m_incoming.front().arrivedAt);
    }
    if (!m_outgoing.empty()) {
        next = std::min(next, m_outgoing.front().at);
    }
    return next;
}

}  // namespace quorvale::sim
