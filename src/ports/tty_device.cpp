// SPDX-License-Identifier: Apache-2.0
#include "ports/tty_device.h"

#include <algorithm>

namespace quorvale {
namespace {

constexpr char kBuiltInUart[] = "Communications Port";
// The serial core's type of a port with no UART behind it (PORT_UNKNOWN).
constexpr char kNoUart[] = "0";
constexpr char kVirtualDevices[] = "/devices/virtual/";

std::string WithSpaces(std::string text) {
    std::replace(text.begin(), text.end(), '_', ' ');
    return text;
}

}  // namespace

bool IsSerialPort(const TtyDeviceRecord& device) {
    if (!device.hasNode || !device.hasParent || device.sysPath.starts_with(kVirtualDevices)) {
        return false;
    }
    return device.uartType != kNoUart;
}

std::string DescribePort(const TtyDeviceRecord& device) {
    for (const std::string& own :
         {WithSpaces(device.model), device.usbProduct, device.modelFromDatabase}) {
        if (!own.empty()) {
            return own;
        }
    }
    if (device.uartType) {
        return kBuiltInUart;
    }
    return device.driver.empty() ? device.sysName : device.driver;
}

}  // namespace quorvale
