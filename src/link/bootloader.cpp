// SPDX-License-Identifier: Apache-2.0
#include "link/bootloader.h"

#include "link/byte_buffer.h"
#include "link/frame.h"

namespace quorvale {
namespace {

constexpr std::uint8_t kQueryHardwareCode = 0x01;
constexpr std::uint8_t kSetVersionNumber = 0x0D;
constexpr std::uint8_t kSendDataBlock = 0x0F;

void AppendChecksum(ByteBuffer& frame) {
    frame.Append(XorOf(frame.Data(), frame.Length()));
}

// The shared pattern of tries: the same request each time, a fresh reply, no pause beyond
// the transaction's own wait. A stop request ends the tries at once.
template <typename ReplyCheck>
bool RunCommand(PortHandle& port, const ByteBuffer& request, ReplyCheck accepts) {
    for (int tries = CommandTries; tries > 0 && !WaitingIsOver(port); --tries) {
        ByteBuffer reply;
        if (TransactFrame(port, request, reply) && accepts(reply)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool QueryHardwareCode(PortHandle& port, std::uint8_t& code) {
    ByteBuffer request{kQueryHardwareCode, 0x00};
    AppendChecksum(request);
    return RunCommand(port, request, [&](const ByteBuffer& reply) {
        if (reply.Length() != 4 || reply[0] != kQueryHardwareCode || reply[1] != 0x01) {
            return false;
        }
        code = reply[2];
        return true;
    });
}

bool SetVersionNumber(PortHandle& port, std::uint8_t version) {
    ByteBuffer request{kSetVersionNumber, 0x01, version};
    AppendChecksum(request);
    return RunCommand(port, request, [&](const ByteBuffer& reply) {
        return reply.Length() == 4 && reply[0] == kSetVersionNumber && reply[1] == 0x01 &&
               reply[2] == version;
    });
}

bool SendDataBlock(PortHandle& port, std::uint16_t address, std::uint16_t count,
                   const std::uint8_t* data) {
    const auto addressHi = static_cast<std::uint8_t>(address >> 8);
    const auto addressLo = static_cast<std::uint8_t>(address & 0xFF);
    ByteBuffer request{kSendDataBlock, 0x02, addressHi, addressLo};
    request.Reserve(count + 6u);
    AppendChecksum(request);
    request.Append(data, count);
    request.Append(XorOf(data, count));
    // Byte 1 of the echo is not compared.
    return RunCommand(port, request, [&](const ByteBuffer& reply) {
        return reply.Length() == 5 && reply[0] == kSendDataBlock && reply[2] == addressHi &&
               reply[3] == addressLo;
    });
}

}  // namespace quorvale
