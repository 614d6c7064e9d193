// SPDX-License-Identifier: Apache-2.0
#include "reference_client.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace quorvale::bench {
namespace {

using Bytes = std::vector<std::uint8_t>;

bool WriteAll(int fd, const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else {
            pollfd entry{fd, POLLOUT, 0};
            if (::poll(&entry, 1, 1000) <= 0) {
                return false;
            }
        }
    }
    return true;
}

// Writes the request and reads exactly `replyLength` bytes.
bool Exchange(int fd, const Bytes& request, std::size_t replyLength, Bytes& reply) {
    if (!WriteAll(fd, request)) {
        return false;
    }
    reply.assign(replyLength, 0);
    std::size_t got = 0;
    while (got < replyLength) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, 1000) <= 0) {
            return false;
        }
        const ssize_t n = ::read(fd, reply.data() + got, replyLength - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        }
    }
    return true;
}

Bytes Frame(Bytes bytes) {
    std::uint8_t sum = 0;
    for (const std::uint8_t b : bytes) {
        sum ^= b;
    }
    bytes.push_back(sum);
    return bytes;
}

}  // namespace

bool ReferenceDownload(const std::string& port, const FirmwareImage& image,
                       const LineSettings& application) {
    {
        PortHandle app = OpenPort(port, application);
        if (!app.IsValid() ||
            !WriteAll(NativeDescriptor(app), {0x5A, 0x5A, 0x5A, 0x04, 0x3C, 0xC3})) {
            return false;
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    PortHandle boot = OpenPort(port, {image.GetBaudRate(), 8, Parity::None, StopBits::Two});
    const int fd = NativeDescriptor(boot);
    if (!boot.IsValid() || !WriteAll(fd, Bytes(20, 0x00))) {
        return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Bytes reply;
    if (!Exchange(fd, {0x01, 0x00, 0x01}, 4, reply) || reply[2] != image.GetHardwareCode() ||
        !Exchange(fd, Frame({0x0D, 0x01, image.GetVersion()}), 4, reply)) {
        return false;
    }
    const std::uint8_t* data = image.GetData();
    for (std::uint32_t offset = 0; offset < image.GetLength(); offset += 256) {
        const std::uint8_t* block = data + offset;
        if (std::all_of(block, block + 256, [](std::uint8_t b) { return b == 0xFF; })) {
            continue;
        }
        const auto address = static_cast<std::uint16_t>(image.GetStartAddress() + offset);
        Bytes request = Frame({0x0F, 0x02, static_cast<std::uint8_t>(address >> 8),
                               static_cast<std::uint8_t>(address & 0xFF)});
        std::uint8_t sum = 0;
        for (int i = 0; i < 256; ++i) {
            request.push_back(block[i]);
            sum ^= block[i];
        }
        request.push_back(sum);
        if (!Exchange(fd, request, 5, reply)) {
            return false;
        }
    }
    return WriteAll(fd, {0x0E, 0x02, 0x66, 0x99, 0xF3});
}

}  // namespace quorvale::bench
