// SPDX-License-Identifier: Apache-2.0
// Kept apart from the rest of the link: the kernel's termios2 definitions clash with the C
// library's <termios.h>.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstdint>
#include <optional>

namespace quorvale {

bool SetCustomBaudRate(int fd, std::uint32_t baudRate) {
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) != 0) {
        return false;
    }
    t.c_cflag &= ~(CBAUD | CIBAUD);
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ospeed = baudRate;
    t.c_ispeed = baudRate;
    return ::ioctl(fd, TCSETS2, &t) == 0;
}

// The kernel keeps the rate in c_ospeed for standard and custom rates alike.
std::optional<std::uint32_t> ReportedBaudRate(int fd) {
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) != 0) {
        return std::nullopt;
    }
    return t.c_ospeed;
}

}  // namespace quorvale
