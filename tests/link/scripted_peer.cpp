// SPDX-License-Identifier: Apache-2.0
#include "scripted_peer.h"

#include <poll.h>
#include <unistd.h>

namespace quorvale::test {

ScriptedPeer::ScriptedPeer(const sim::PseudoTerminal& pty, std::size_t requestLength,
                           Responder responder)
    : m_pty(pty),
      m_requestLength(requestLength),
      m_responder(std::move(responder)),
      m_thread([this](std::stop_token stop) { Run(stop); }) {}

std::vector<Bytes> ScriptedPeer::Requests() const {
    const std::lock_guard lock(m_mutex);
    return m_requests;
}

void ScriptedPeer::Run(const std::stop_token& stop) {
    Bytes pending;
    while (!stop.stop_requested()) {
        pollfd entry{m_pty.MasterFd(), POLLIN, 0};
        if (::poll(&entry, 1, 5) <= 0) {
            continue;
        }
        std::uint8_t chunk[512];
        const ssize_t got = ::read(m_pty.MasterFd(), chunk, sizeof chunk);
        if (got > 0) {
            pending.insert(pending.end(), chunk, chunk + got);
        }
        while (pending.size() >= m_requestLength) {
            const Bytes request(pending.begin(), pending.begin() + m_requestLength);
            pending.erase(pending.begin(), pending.begin() + m_requestLength);
            int index = 0;
            {
                const std::lock_guard lock(m_mutex);
                index = static_cast<int>(m_requests.size());
                m_requests.push_back(request);
            }
            for (const Chunk& part : m_responder(index, request)) {
                std::this_thread::sleep_for(part.delay);
                m_pty.Write(part.bytes.data(), part.bytes.size());
            }
        }
    }
}

}  // namespace quorvale::test
