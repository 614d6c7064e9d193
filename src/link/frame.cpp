#include "link/frame.h"

namespace quorvale {

bool TransactFrame(PortHandle& port, const ByteBuffer& request, ByteBuffer& reply) {
    using Clock = std::chrono::steady_clock;
    DrainPort(port);
    WritePort(port, request.Data(), static_cast<std::uint32_t>(request.Length()));
    reply.Clear();
    std::uint8_t checksum = 0;
    auto deadline = Clock::now() + ReplyInactivityLimit;
    while (Clock::now() < deadline && !StopRequested(port)) {
        std::uint8_t byte = 0;
        if (!ReadPortByte(port, byte)) {
            WaitForInput(port,
                         std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()));
            continue;
        }
        reply.Append(byte);
        if (reply.Length() > MaxFrameLength) {
            // No command accepts a reply this long, and a noisy line could otherwise keep
            // the wait alive for ever.
            return false;
        }
        deadline = Clock::now() + ReplyInactivityLimit;
        const std::size_t length = reply.Length();
        if (length < MinFrameLength || length < reply[1] + MinFrameLength) {
            checksum ^= byte;
        } else if (byte == checksum) {
            return true;
        }
    }
    return false;
}

}  // namespace quorvale
