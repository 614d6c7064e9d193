// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/pseudo_terminal.h"

namespace quorvale::test {

using Bytes = std::vector<std::uint8_t>;

// One part of a scripted reply: wait, then send.
struct Chunk {
    std::chrono::milliseconds delay;
    Bytes bytes;
};
using Script = std::vector<Chunk>;

// The far end of a pseudo-terminal that answers each request of a known length with a
// script chosen by the request's index, for exact control over what the tool receives.
class ScriptedPeer {
public:
    using Responder = std::function<Script(int index, const Bytes& request)>;

    ScriptedPeer(const sim::PseudoTerminal& pty, std::size_t requestLength, Responder responder);
    std::vector<Bytes> Requests() const;

private:
    void Run(const std::stop_token& stop);

    const sim::PseudoTerminal& m_pty;
    const std::size_t m_requestLength;
    const Responder m_responder;
    mutable std::mutex m_mutex;
    std::vector<Bytes> m_requests;
    std::jthread m_thread;
};

}  // namespace quorvale::test
