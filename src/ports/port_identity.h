// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string>

namespace quorvale {

// What tells one port from another beyond its name, which may change from plug to plug: the
// stable links udev makes for it and the strings of the USB device behind it. Each is absent
// where the system doesn't know it.
struct PortIdentity {
    std::optional<std::string> byId;          // /dev/serial/by-id/... (the adapter's serial number)
    std::optional<std::string> byPath;        // /dev/serial/by-path/... (the socket it is in)
    std::optional<std::string> usbVendorId;   // four hex digits, as the device reports them
    std::optional<std::string> usbProductId;  // four hex digits
    std::optional<std::string> serialNumber;
    std::optional<std::string> manufacturer;
    std::optional<std::string> product;
    // Which interface of the USB device the port is (two-digit hex, as USB numbers them): what
    // tells apart the ports of one multi-port adapter, whose other strings are all the same.
    std::optional<std::string> usbInterface;
};

// The first link in `folder`, in name order, that leads to the same file as `target`.
std::optional<std::string> LinkLeadingTo(const std::string& folder, const std::string& target);

}  // namespace quorvale
