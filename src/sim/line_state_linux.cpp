// SPDX-License-Identifier: Apache-2.0
// Kept apart: the kernel's termios2 definitions clash with the C library's <termios.h>.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "sim/pseudo_terminal.h"

namespace quorvale::sim {

// On the master side of a pty the terminal ioctls act on the terminal side, so this reads the
// settings the tool applied. The kernel keeps the real rate in c_ospeed for standard and
// custom rates alike.
LineState ReadLineStateOf(int fd) {
    struct termios2 t {};
    LineState state;
    if (::ioctl(fd, TCGETS2, &t) != 0) {
        return state;
    }
    state.baudRate = t.c_ospeed;
    switch (t.c_cflag & CSIZE) {
        case CS5:
            state.dataBits = 5;
            break;
        case CS6:
            state.dataBits = 6;
            break;
        case CS7:
            state.dataBits = 7;
            break;
        default:
            state.dataBits = 8;
            break;
    }
    state.parity = (t.c_cflag & PARENB) != 0;
    state.twoStopBits = (t.c_cflag & CSTOPB) != 0;
    state.cooked = (t.c_lflag & (ICANON | ECHO)) != 0;
    return state;
}

}  // namespace quorvale::sim
