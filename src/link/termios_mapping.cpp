// SPDX-License-Identifier: Apache-2.0
#include "link/termios_mapping.h"

#include <array>
#include <utility>

namespace quorvale {
namespace {

constexpr std::array<std::pair<std::uint32_t, speed_t>, 30> kStandardSpeeds = {{
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

void SetDataBits(termios& t, std::uint8_t dataBits) {
    tcflag_t size = 0;
    switch (dataBits) {
        case 5:
            size = CS5;
            break;
        case 6:
            size = CS6;
            break;
        case 7:
            size = CS7;
            break;
        case 8:
            size = CS8;
            break;
        default:
            return;
    }
    t.c_cflag = (t.c_cflag & ~CSIZE) | size;
}

void SetParity(termios& t, Parity parity) {
    tcflag_t bits = 0;
    switch (parity) {
        case Parity::None:
            bits = 0;
            break;
        case Parity::Odd:
            bits = PARENB | PARODD;
            break;
        case Parity::Even:
            bits = PARENB;
            break;
        case Parity::Mark:
            bits = PARENB | CMSPAR | PARODD;
            break;
        case Parity::Space:
            bits = PARENB | CMSPAR;
            break;
        default:
            return;
    }
    t.c_cflag = (t.c_cflag & ~(PARENB | PARODD | CMSPAR)) | bits;
}

void SetStopBits(termios& t, StopBits stopBits) {
    switch (stopBits) {
        case StopBits::One:
            t.c_cflag &= ~CSTOPB;
            break;
        // termios has no one and a half: the UART sends 1.5 for 5 data bits and 2 otherwise.
        case StopBits::OnePointFive:
        case StopBits::Two:
            t.c_cflag |= CSTOPB;
            break;
        default:
            break;
    }
}

void SetBinaryMode(termios& t) {
    // PARMRK would double every 0xFF received, IUCLC turn capitals into small letters: either,
    // left on by another program, corrupts replies.
    t.c_iflag &= ~(ICRNL | INLCR | IGNCR | ISTRIP | IGNBRK | BRKINT | PARMRK | IUCLC);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ICANON | ECHO | ECHOE | ECHONL | ISIG | IEXTEN);
    t.c_cflag |= CLOCAL | CREAD;
    // Reads return at once with whatever has arrived, possibly nothing.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
}

}  // namespace

std::optional<speed_t> StandardSpeed(std::uint32_t baudRate) {
    for (const auto& [rate, speed] : kStandardSpeeds) {
        if (rate == baudRate) {
            return speed;
        }
    }
    return std::nullopt;
}

termios MakeLineTermios(termios t, const LineSettings& settings) {
    SetBinaryMode(t);
    SetDataBits(t, settings.dataBits);
    SetParity(t, settings.parity);
    SetStopBits(t, settings.stopBits);
    t.c_cflag &= ~CRTSCTS;
    t.c_iflag &= ~IXON;
    if (const auto speed = StandardSpeed(settings.baudRate)) {
        cfsetospeed(&t, *speed);
        cfsetispeed(&t, *speed);
        // A custom rate set earlier leaves its marker in the input-speed bits; clearing them
        // makes the input follow the output speed again.
        t.c_cflag &= ~CIBAUD;
    }
    return t;
}

}  // namespace quorvale
