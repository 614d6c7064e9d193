#pragma once

#include <chrono>

#include "link/byte_buffer.h"
#include "link/serial_port.h"

namespace quorvale {

// A frame is: command, payload length N, N payload bytes, XOR of everything before.
constexpr std::size_t MinFrameLength = 3;
constexpr std::size_t MaxFrameLength = 255 + MinFrameLength;
constexpr std::chrono::milliseconds ReplyInactivityLimit{1000};

// Drains the input, writes `request` in one piece and collects the reply. True when a frame
// whose last byte matches its checksum arrived; false when the line stayed silent for the
// inactivity limit first, when the reply grew past the largest frame without ever matching,
// or when the port's stop was requested. The reply holds every byte received either way.
bool TransactFrame(PortHandle& port, const ByteBuffer& request, ByteBuffer& reply);

}  // namespace quorvale
