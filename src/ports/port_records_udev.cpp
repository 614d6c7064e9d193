// SPDX-License-Identifier: Apache-2.0
// The ports of a Linux machine, read from udev once (or from sysfs alone where no udev daemon
// runs): each serial device, described from its own strings first, with its identity.
#include <fcntl.h>
#include <libudev.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>

#include "files/system_error.h"
#include "ports/discovery.h"
#include "ports/natural_order.h"
#include "ports/port_record.h"
#include "ports/tty_device.h"

namespace quorvale {
namespace {

// Where sysfs lists character devices by number.
constexpr char kSysfsDevices[] = "/sys/dev/char";
// Probed when nothing is found: a system without sysfs or udev may still have UARTs.
constexpr char kProbeNameFormat[] = "/dev/ttyS%d";
constexpr int kProbedPorts = 10;

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

std::string Text(const char* value) {
    return value ? value : "";
}

std::optional<std::string> Attribute(udev_device* device, const char* name) {
    const char* value = device ? udev_device_get_sysattr_value(device, name) : nullptr;
    return value ? std::optional<std::string>(value) : std::nullopt;
}

// The nearest ancestor (or the device itself) that has a driver other than the serial core's
// per-port "port" driver, which newer kernels put between a UART and its real driver.
std::string DriverName(udev_device* device) {
    for (udev_device* d = device; d != nullptr; d = udev_device_get_parent(d)) {
        const std::string driver = Text(udev_device_get_driver(d));
        if (!driver.empty() && driver != "port") {
            return driver;
        }
    }
    return {};
}

udev_device* UsbDevice(udev_device* device) {
    return udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
}

TtyDeviceRecord RecordOf(udev_device* device) {
    TtyDeviceRecord record;
    record.sysPath = Text(udev_device_get_devpath(device));
    record.sysName = Text(udev_device_get_sysname(device));
    record.hasNode = udev_device_get_devnode(device) != nullptr;
    record.hasParent = udev_device_get_parent(device) != nullptr;
    if (const char* type = udev_device_get_sysattr_value(device, "type")) {
        record.uartType = type;
    }
    record.model = Text(udev_device_get_property_value(device, "ID_MODEL"));
    record.usbProduct = Attribute(UsbDevice(device), "product").value_or("");
    record.modelFromDatabase =
        Text(udev_device_get_property_value(device, "ID_MODEL_FROM_DATABASE"));
    record.driver = DriverName(device);
    return record;
}

// The USB device's strings, where the port is one; the links are the file system's.
PortIdentity IdentityOf(udev_device* device, const std::string& node) {
    PortIdentity identity;
    identity.byId = LinkLeadingTo("/dev/serial/by-id", node);
    identity.byPath = LinkLeadingTo("/dev/serial/by-path", node);
    udev_device* usb = device ? UsbDevice(device) : nullptr;  // owned by `device`
    identity.usbVendorId = Attribute(usb, "idVendor");
    identity.usbProductId = Attribute(usb, "idProduct");
    identity.serialNumber = Attribute(usb, "serial");
    identity.manufacturer = Attribute(usb, "manufacturer");
    identity.product = Attribute(usb, "product");
    udev_device* interface =
        device ? udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_interface")
               : nullptr;
    identity.usbInterface = Attribute(interface, "bInterfaceNumber");
    return identity;
}

PortRecord RecordFor(const std::string& node, const std::string& description, udev_device* device) {
    return {node, description + " (" + node + ")", node, true, IdentityOf(device, node), false};
}

std::vector<PortRecord> ScanSerialPorts(udev* context) {
    UdevPtr<udev_enumerate> scan(udev_enumerate_new(context));
    if (!scan || udev_enumerate_add_match_subsystem(scan.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(scan.get()) < 0) {
        const int error = errno ? errno : EIO;
        throw SystemErrorCode(static_cast<std::uint32_t>(error), SystemErrorText(error));
    }
    std::vector<PortRecord> ports;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan.get())) {
        UdevPtr<udev_device> device(
            udev_device_new_from_syspath(context, udev_list_entry_get_name(entry)));
        if (!device) {
            continue;
        }
        const TtyDeviceRecord record = RecordOf(device.get());
        if (IsSerialPort(record)) {
            ports.push_back(RecordFor(udev_device_get_devnode(device.get()), DescribePort(record),
                                      device.get()));
        }
    }
    // The enumeration's own order follows sysfs; by node name the list reads the same on
    // every run and ttyS2 comes before ttyS10.
    std::sort(ports.begin(), ports.end(), [](const PortRecord& a, const PortRecord& b) {
        return NaturalLess(a.portName, b.portName);
    });
    return ports;
}

// Whether `path` is a character device node, and its device number. O_PATH finds the node
// without opening the device: no driver call, the line is never touched.
bool CharacterDeviceNumber(const std::string& path, dev_t& number) {
    const int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    const bool characterDevice = ::fstat(fd, &info) == 0 && S_ISCHR(info.st_mode);
    ::close(fd);
    number = info.st_rdev;
    return characterDevice;
}

// The ten first UART names that are ports, by the enumeration's own rule.
void ProbePortNames(std::vector<PortRecord>& ports) {
    for (int k = 0; k < kProbedPorts; ++k) {
        char name[64];
        std::snprintf(name, sizeof name, kProbeNameFormat, k);
        if (NodeIsSerialPort(name)) {
            ports.push_back({name, name, name, true, IdentityOf(nullptr, name), false});
        }
    }
}

}  // namespace

// The same rule as the enumeration's: a node without a UART behind it (a PC's ttyS0-ttyS3 with
// no serial hardware) is no port, though the node exists. Without sysfs nothing is known of a
// node but that it is there, and it is taken at its word.
bool NodeIsSerialPort(const std::string& node) {
    dev_t number = 0;
    if (!CharacterDeviceNumber(node, number)) {
        return false;
    }
    if (::access(kSysfsDevices, F_OK) != 0) {
        return true;
    }
    const UdevPtr<udev> context(udev_new());
    const UdevPtr<udev_device> device(
        context ? udev_device_new_from_devnum(context.get(), 'c', number) : nullptr);
    return device && IsSerialPort(RecordOf(device.get()));
}

std::vector<PortRecord> FindPorts() {
    const UdevPtr<udev> context(udev_new());
    if (!context) {
        const int error = errno ? errno : ENOMEM;
        throw SystemErrorCode(static_cast<std::uint32_t>(error), SystemErrorText(error));
    }
    std::vector<PortRecord> ports = ScanSerialPorts(context.get());
    if (ports.empty()) {
        ProbePortNames(ports);
    }
    AppendSimulatedControllers(ports);
    return ports;
}

}  // namespace quorvale
