// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>

#include "link/byte_buffer.h"
#include "link/port_handle.h"

namespace quorvale {

// A frame is: command, payload length N, N payload bytes, XOR of everything before.
constexpr std::size_t MinFrameLength = 3;
constexpr std::size_t MaxFrameLength = 255 + MinFrameLength;
constexpr std::chrono::milliseconds ReplyInactivityLimit{1000};

// Collects a reply byte by byte into a buffer. Complete once the frame's last byte, or any
// byte after it, equals the checksum of the frame's body; Overflow once the reply has grown
// past the largest frame.
class FrameReceiver {
public:
    enum class State { Collecting, Complete, Overflow };
    State Take(std::uint8_t byte, ByteBuffer& reply);

private:
    std::uint8_t m_checksum = 0;
};

// Drains the input, writes `request` in one piece and collects the reply. True when a frame
// whose last byte matches its checksum arrived; false when the line stayed silent for the
// inactivity limit first, when the reply grew past the largest frame without ever matching,
// or when the port's stop was requested. The reply holds every byte received either way.
bool TransactFrame(PortHandle& port, const ByteBuffer& request, ByteBuffer& reply);

}  // namespace quorvale
