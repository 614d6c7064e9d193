// SPDX-License-Identifier: Apache-2.0
// What a serial driver tells of itself through its serial_struct: its base clock, and the
// low-latency flag.
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cstdint>

namespace quorvale {
namespace {

// USB-serial adapters (FTDI chips above all) hold what they receive until a latency timer
// runs out, 16 ms by default, unless the driver is asked for low latency. Every reply of the
// bootloader would wait that long; at 57600 baud that is about a quarter of a download.
bool SetLowLatency(int fd, bool on) {
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0) {
        return false;
    }
    if (((info.flags & ASYNC_LOW_LATENCY) != 0) == on) {
        return false;
    }
    info.flags = on ? (info.flags | ASYNC_LOW_LATENCY) : (info.flags & ~ASYNC_LOW_LATENCY);
    return ::ioctl(fd, TIOCSSERIAL, &info) == 0;
}

}  // namespace

bool EnableLowLatency(int fd) {
    return SetLowLatency(fd, true);
}

// Only the one flag is taken back, read afresh: anything else changed on the port meanwhile
// (by setserial, say) stays.
void DisableLowLatency(int fd) {
    SetLowLatency(fd, false);
}

std::uint32_t BaseClock(int fd) {
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0 || info.baud_base <= 0) {
        return 0;
    }
    return static_cast<std::uint32_t>(info.baud_base);
}

}  // namespace quorvale
