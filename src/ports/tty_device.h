// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string>

namespace quorvale {

// What the Linux layer learns of one tty device from udev, or from sysfs alone where no udev
// daemon runs. Gathering it is the only part that needs the machine; what it means is decided
// by the functions below.
struct TtyDeviceRecord {
    std::string sysPath{};  // below /sys: /devices/pnp0/00:04/tty/ttyS0
    std::string sysName{};  // ttyS0
    bool hasNode = false;   // a device node under /dev
    bool hasParent = false;
    // The serial core's "type" attribute (0 when no UART answered at the port's address);
    // absent for drivers outside the serial core (USB adapters, CDC-ACM), and where it is
    // readable by root only (kernels before 5.7), which errs towards offering the port.
    std::optional<std::string> uartType{};
    std::string model{};              // udev's ID_MODEL, underscores for spaces
    std::string usbProduct{};         // the USB device's own product string
    std::string modelFromDatabase{};  // udev's ID_MODEL_FROM_DATABASE
    std::string driver{};             // the nearest driver other than the serial core's "port"
};

// A port worth offering: a device node, real hardware behind it (virtual consoles and
// pseudo-terminals have none), and for a serial-core port a UART that is really there.
bool IsSerialPort(const TtyDeviceRecord& device);

// The description in "<description> (<node>)": the device's own strings first; a built-in
// UART, which has none, is a "Communications Port"; then its driver; then its name.
std::string DescribePort(const TtyDeviceRecord& device);

// Whether the node at `path` is a port by the rule above, learnt without opening it.
bool NodeIsSerialPort(const std::string& path);

}  // namespace quorvale
