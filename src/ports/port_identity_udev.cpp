// SPDX-License-Identifier: Apache-2.0
#include <libudev.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <vector>

#include "ports/port_identity.h"

namespace quorvale {
namespace {

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

std::optional<std::string> Attribute(udev_device* device, const char* name) {
    const char* value = device ? udev_device_get_sysattr_value(device, name) : nullptr;
    return value ? std::optional<std::string>(value) : std::nullopt;
}

void ReadUsbStrings(const std::string& portName, PortIdentity& identity) {
    struct stat info {};
    if (::stat(portName.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) {
        return;
    }
    const UdevPtr<udev> context(udev_new());
    const UdevPtr<udev_device> device(
        context ? udev_device_new_from_devnum(context.get(), 'c', info.st_rdev) : nullptr);
    // Owned by `device`.
    udev_device* usb =
        device ? udev_device_get_parent_with_subsystem_devtype(device.get(), "usb", "usb_device")
               : nullptr;
    identity.usbVendorId = Attribute(usb, "idVendor");
    identity.usbProductId = Attribute(usb, "idProduct");
    identity.serialNumber = Attribute(usb, "serial");
    identity.manufacturer = Attribute(usb, "manufacturer");
    identity.product = Attribute(usb, "product");
    udev_device* interface =
        device ? udev_device_get_parent_with_subsystem_devtype(device.get(), "usb", "usb_interface")
               : nullptr;
    identity.usbInterface = Attribute(interface, "bInterfaceNumber");
}

// std::filesystem::equivalent refuses two character devices ("Operation not supported"),
// which every serial port is. A device is told by its number, whichever node stands for it.
bool SameFile(const struct stat& a, const struct stat& b) {
    const bool aDevice = S_ISCHR(a.st_mode) || S_ISBLK(a.st_mode);
    const bool bDevice = S_ISCHR(b.st_mode) || S_ISBLK(b.st_mode);
    if (aDevice || bDevice) {
        return aDevice && bDevice && (a.st_mode & S_IFMT) == (b.st_mode & S_IFMT) &&
               a.st_rdev == b.st_rdev;
    }
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

std::optional<std::string> LinkLeadingTo(const std::string& folder, const std::string& target) {
    struct stat wanted {};
    if (::stat(target.c_str(), &wanted) != 0) {
        return std::nullopt;
    }
    std::error_code error;
    std::vector<std::filesystem::path> links;
    // Stepped without exceptions: udev may remove the folder while it is read.
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        links.push_back(entry->path());
    }
    std::sort(links.begin(), links.end());
    for (const auto& link : links) {
        struct stat found {};
        if (::stat(link.c_str(), &found) == 0 && SameFile(found, wanted)) {
            return link.string();
        }
    }
    return std::nullopt;
}

PortIdentity IdentifyPort(const std::string& portName) {
    PortIdentity identity;
    identity.byId = LinkLeadingTo("/dev/serial/by-id", portName);
    identity.byPath = LinkLeadingTo("/dev/serial/by-path", portName);
    ReadUsbStrings(portName, identity);
    return identity;
}

}  // namespace quorvale
