// USB-serial adapters (FTDI chips above all) hold what they receive until a latency timer
// runs out, 16 ms by default, unless the driver is asked for low latency. Every reply of the
// bootloader would wait that long; at 57600 baud that is about a quarter of a download.
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <optional>

namespace quorvale {

std::optional<int> EnableLowLatency(int fd) {
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0 || (info.flags & ASYNC_LOW_LATENCY) != 0) {
        return std::nullopt;
    }
    const int previous = info.flags;
    info.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(fd, TIOCSSERIAL, &info) != 0) {
        return std::nullopt;
    }
    return previous;
}

void RestoreSerialFlags(int fd, int flags) {
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) == 0) {
        info.flags = flags;
        ::ioctl(fd, TIOCSSERIAL, &info);
    }
}

}  // namespace quorvale
