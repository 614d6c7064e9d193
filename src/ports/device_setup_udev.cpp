// The device-setup layer on Linux: serial devices from udev (or sysfs alone where no udev
// daemon runs), described from their own strings first.
#include <fcntl.h>
#include <libudev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "ports/device_setup.h"
#include "ports/natural_order.h"

namespace quorvale {
namespace {

constexpr std::uint32_t kTtyClass = 1;
// A built-in UART has no strings of its own.
constexpr char kBuiltInUart[] = "Communications Port";
// sysfs "type" of a serial-core port with no UART behind it (PORT_UNKNOWN).
constexpr char kNoUart[] = "0";

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

std::string WithSpaces(std::string text) {
    std::replace(text.begin(), text.end(), '_', ' ');
    return text;
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

std::string Describe(udev_device* device) {
    const std::string candidates[] = {
        WithSpaces(Text(udev_device_get_property_value(device, "ID_MODEL"))),
        UsbProduct(device),
        Text(udev_device_get_property_value(device, "ID_MODEL_FROM_DATABASE")),
    };
    for (const std::string& candidate : candidates) {
        if (!candidate.empty()) {
            return candidate;
        }
    }
    if (udev_device_get_sysattr_value(device, "type") != nullptr) {
        return kBuiltInUart;
    }
    const std::string driver = DriverName(device);
    return driver.empty() ? Text(udev_device_get_sysname(device)) : driver;
}

// A port worth offering: a device node, real hardware behind it (virtual consoles and
// pseudo-terminals have none), and for a serial-core port a UART that is really there.
bool IsSerialPort(udev_device* device) {
    const std::string devpath = Text(udev_device_get_devpath(device));
    if (udev_device_get_devnode(device) == nullptr || udev_device_get_parent(device) == nullptr ||
        devpath.rfind("/devices/virtual/", 0) == 0) {
        return false;
    }
    const char* type = udev_device_get_sysattr_value(device, "type");
    return type == nullptr || std::strcmp(type, kNoUart) != 0;
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
        if (device && IsSerialPort(device.get())) {
            ports.push_back({udev_device_get_devnode(device.get()), Describe(device.get())});
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
    std::string ErrorText(std::uint32_t code) const override {
        return std::strerror(static_cast<int>(code));
    }

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

    // O_PATH finds the device without opening it: no driver call, the line is never touched.
    bool CanOpenPort(const std::string& name) override {
        const int fd = ::open(name.c_str(), O_PATH | O_CLOEXEC);
        if (fd < 0) {
            return false;
        }
        ::close(fd);
        return true;
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
