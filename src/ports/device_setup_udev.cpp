// SPDX-License-Identifier: Apache-2.0
// The device-setup layer on Linux: serial devices from udev (or sysfs alone where no udev
// daemon runs), described from their own strings first.
#include <fcntl.h>
#include <libudev.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "files/system_error.h"
#include "ports/device_setup.h"
#include "ports/natural_order.h"
#include "ports/tty_device.h"

namespace quorvale {
namespace {

constexpr std::uint32_t kTtyClass = 1;
// Where sysfs lists character devices by number.
constexpr char kSysfsDevices[] = "/sys/dev/char";

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

struct PortDevice {
    std::string node;         // /dev/ttyUSB0
    std::string description;  // FT232R USB UART
};

std::string Text(const char* value) {
    return value ? value : "";
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

std::string UsbProduct(udev_device* device) {
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
    return usb ? Text(udev_device_get_sysattr_value(usb, "product")) : std::string();
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
    record.usbProduct = UsbProduct(device);
    record.modelFromDatabase =
        Text(udev_device_get_property_value(device, "ID_MODEL_FROM_DATABASE"));
    record.driver = DriverName(device);
    return record;
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

std::vector<PortDevice> ScanSerialPorts(udev* context, int& error) {
    UdevPtr<udev_enumerate> scan(udev_enumerate_new(context));
    if (!scan || udev_enumerate_add_match_subsystem(scan.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(scan.get()) < 0) {
        error = errno ? errno : EIO;
        return {};
    }
    std::vector<PortDevice> ports;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan.get())) {
        UdevPtr<udev_device> device(
            udev_device_new_from_syspath(context, udev_list_entry_get_name(entry)));
        if (!device) {
            continue;
        }
        const TtyDeviceRecord record = RecordOf(device.get());
        if (IsSerialPort(record)) {
            ports.push_back({udev_device_get_devnode(device.get()), DescribePort(record)});
        }
    }
    // The enumeration's own order follows sysfs; by node name the list reads the same on
    // every run and ttyS2 comes before ttyS10.
    std::sort(ports.begin(), ports.end(),
              [](const PortDevice& a, const PortDevice& b) { return NaturalLess(a.node, b.node); });
    return ports;
}

class UdevDeviceSetup final : public DeviceSetup {
public:
    const char* PortNameMarker() const override { return "(/dev/"; }
    const char* ProbeNameFormat() const override { return "/dev/ttyS%d"; }
    std::string ErrorText(std::uint32_t code) const override { return SystemErrorText(code); }

    Status ClassFromName(const std::string& className, std::uint32_t& classId,
                         std::uint32_t& matches) override {
        matches = className == "ports" ? 1 : 0;
        classId = kTtyClass;
        return {};
    }

    Status CreateDeviceSet(std::uint32_t classId, SetHandle& set) override {
        if (classId != kTtyClass) {
            return {Outcome::Failed, EINVAL};
        }
        UdevPtr<udev> context(udev_new());
        if (!context) {
            return {Outcome::Failed, static_cast<std::uint32_t>(errno ? errno : ENOMEM)};
        }
        int error = 0;
        std::vector<PortDevice> ports = ScanSerialPorts(context.get(), error);
        if (error != 0) {
            return {Outcome::Failed, static_cast<std::uint32_t>(error)};
        }
        set = ++m_lastSet;
        m_sets.emplace(set, std::move(ports));
        return {};
    }

    void DestroyDeviceSet(SetHandle set) override { m_sets.erase(set); }

    Status EnumerateInterface(SetHandle set, std::uint32_t, std::uint32_t index) override {
        const auto found = m_sets.find(set);
        if (found == m_sets.end()) {
            return {Outcome::Failed, EBADF};
        }
        return index < found->second.size() ? Status{} : Status{Outcome::NoMoreItems, 0};
    }

    Status QueryInterfaceDetailSize(SetHandle set, std::uint32_t index) override {
        return Device(set, index) ? Status{Outcome::InsufficientBuffer, 0}
                                  : Status{Outcome::Failed, EBADF};
    }

    bool ReadInterfaceDetail(SetHandle set, std::uint32_t index, std::string& devicePath) override {
        const PortDevice* device = Device(set, index);
        if (device) {
            devicePath = device->node;
        }
        return device != nullptr;
    }

    bool ReadFriendlyName(SetHandle set, std::uint32_t index, std::string& friendlyName) override {
        const PortDevice* device = Device(set, index);
        if (device) {
            friendlyName = device->description + " (" + device->node + ")";
        }
        return device != nullptr;
    }

    // The same rule as the enumeration's: a node without a UART behind it (a PC's ttyS0-ttyS3
    // with no serial hardware) is no port, though the node exists. Without sysfs nothing is
    // known of a node but that it is there, and it is taken at its word.
    bool CanOpenPort(const std::string& name) override {
        dev_t number = 0;
        if (!CharacterDeviceNumber(name, number)) {
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

private:
    const PortDevice* Device(SetHandle set, std::uint32_t index) const {
        const auto found = m_sets.find(set);
        if (found == m_sets.end() || index >= found->second.size()) {
            return nullptr;
        }
        return &found->second[index];
    }

    SetHandle m_lastSet = 0;
    std::map<SetHandle, std::vector<PortDevice>> m_sets;
};

}  // namespace

std::unique_ptr<DeviceSetup> MakeSystemDeviceSetup() {
    return std::make_unique<UdevDeviceSetup>();
}

}  // namespace quorvale
