// SPDX-License-Identifier: Apache-2.0
// Reply bytes in: the receiver must stop at the first byte that completes a frame, and never
// let a reply grow past the largest frame.
#include <cstdlib>

#include "link/frame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quorvale;
    FrameReceiver receiver;
    ByteBuffer reply;
    for (std::size_t i = 0; i < size; ++i) {
        const FrameReceiver::State state = receiver.Take(data[i], reply);
        if (reply.Length() != i + 1) {
            std::abort();
        }
        if (state == FrameReceiver::State::Overflow) {
            if (reply.Length() != MaxFrameLength + 1) {
                std::abort();
            }
            return 0;
        }
        if (state == FrameReceiver::State::Complete) {
            const std::size_t frameLength = reply[1] + MinFrameLength;
            if (reply.Length() < frameLength || XorOf(reply.Data(), frameLength - 1) != data[i]) {
                std::abort();
            }
            return 0;
        }
    }
    return 0;
}
