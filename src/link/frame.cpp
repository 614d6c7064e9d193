// SPDX-License-Identifier: Apache-2.0
#include "link/frame.h"

namespace quorvale {

FrameReceiver::State FrameReceiver::Take(std::uint8_t byte, ByteBuffer& reply) {
    reply.Append(byte);
    const std::size_t length = reply.Length();
    if (length > MaxFrameLength) {
        // No command accepts a reply this long, and a noisy line could otherwise keep the
        // wait alive for ever.
        return State::Overflow;
    }
    if (length < MinFrameLength || length < reply[1] + MinFrameLength) {
        m_checksum ^= byte;
        return State::Collecting;
    }
    // Past the frame's end every byte is compared with the checksum of the frame's body.
    return byte == m_checksum ? State::Complete : State::Collecting;
}

bool TransactFrame(PortHandle& port, const ByteBuffer& request, ByteBuffer& reply) {
    using Clock = std::chrono::steady_clock;
    DrainPort(port);
    WritePort(port, request.Data(), static_cast<std::uint32_t>(request.Length()));
    reply.Clear();
    FrameReceiver receiver;
    auto deadline = Clock::now() + ReplyInactivityLimit;
    // Wait first: the reply can't be there the moment the request has gone, and a read that
    // finds nothing just before the wait slowed the wake-up on the reply by several
    // microseconds a block.
    while (Clock::now() < deadline && !WaitingIsOver(port)) {
        WaitForInput(port, std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()));
        std::uint8_t byte = 0;
        while (ReadPortByte(port, byte)) {
            deadline = Clock::now() + ReplyInactivityLimit;
            switch (receiver.Take(byte, reply)) {
                case FrameReceiver::State::Complete:
                    return true;
                case FrameReceiver::State::Overflow:
                    return false;
                case FrameReceiver::State::Collecting:
                    break;
            }
        }
    }
    return false;
}

}  // namespace quorvale
