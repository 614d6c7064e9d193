// SPDX-License-Identifier: Apache-2.0
#include "ports/setupapi_discovery.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace quorvale {
namespace {

constexpr char kPortsClassName[] = "ports";
constexpr int kProbedPorts = 10;

[[noreturn]] void Raise(const DeviceSetup& setup, const DeviceSetup::Status& status) {
    throw SystemErrorCode(status.code, setup.ErrorText(status.code));
}

// Releases the device information set on every path out of the enumeration.
class DeviceSet {
public:
    DeviceSet(DeviceSetup& setup, DeviceSetup::SetHandle set) : m_setup(setup), m_set(set) {}
    ~DeviceSet() { m_setup.DestroyDeviceSet(m_set); }
    DeviceSet(const DeviceSet&) = delete;
    DeviceSet& operator=(const DeviceSet&) = delete;
    DeviceSetup::SetHandle get() const { return m_set; }

private:
    DeviceSetup& m_setup;
    DeviceSetup::SetHandle m_set;
};

void ProbePortNames(DeviceSetup& setup, std::vector<PortRecord>& ports) {
    for (int k = 0; k < kProbedPorts; ++k) {
        char name[64];
        std::snprintf(name, sizeof name, setup.ProbeNameFormat(), k);
        if (CanOpenPort(setup, name)) {
            ports.push_back({name, name, name, true, {}, false});
        }
    }
}

// COM names are told apart without regard to case, as the system does.
bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool Listed(const std::vector<PortRecord>& ports, const std::string& name) {
    return std::any_of(ports.begin(), ports.end(),
                       [&](const PortRecord& port) { return SameName(port.portName, name); });
}

// The ports that register only the COM-port interface, such as USB CDC adapters, after those
// already listed. Nothing here raises: the list found so far stands whatever this finds.
void AddComPortInterfaces(DeviceSetup& setup, std::vector<PortRecord>& ports) {
    const std::uint32_t id = setup.ComPortInterface();
    DeviceSetup::SetHandle handle = 0;
    if (setup.CreateDeviceSet(id, handle).outcome != DeviceSetup::Outcome::Ok) {
        return;
    }
    const DeviceSet set(setup, handle);
    for (std::uint32_t index = 0;
         setup.EnumerateInterface(set.get(), id, index).outcome == DeviceSetup::Outcome::Ok;
         ++index) {
        std::string devicePath;
        std::string portName;
        std::string friendlyName;
        if (setup.QueryInterfaceDetailSize(set.get(), index).outcome !=
                DeviceSetup::Outcome::InsufficientBuffer ||
            !setup.ReadInterfaceDetail(set.get(), index, devicePath) ||
            !setup.ReadPortName(set.get(), index, portName) || Listed(ports, portName)) {
            continue;
        }
        if (!setup.ReadFriendlyName(set.get(), index, friendlyName)) {
            friendlyName = portName;
        }
        const bool present = CanOpenPort(setup, devicePath);
        ports.push_back({portName, friendlyName, devicePath, present, {}, false});
    }
}

}  // namespace

std::uint32_t GetPortsClassGuid(DeviceSetup& setup) {
    std::uint32_t classId = 0;
    std::uint32_t matches = 0;
    const DeviceSetup::Status status = setup.ClassFromName(kPortsClassName, classId, matches);
    if (status.outcome != DeviceSetup::Outcome::Ok) {
        Raise(setup, status);
    }
    if (matches == 0) {
        throw NoPortsClassError();
    }
    return classId;
}

void EnumeratePortsClass(DeviceSetup& setup, std::vector<std::string>& friendlyNames,
                         std::vector<std::string>& devicePaths,
                         std::vector<std::string>& portNames) {
    const std::uint32_t classId = GetPortsClassGuid(setup);
    DeviceSetup::SetHandle handle = 0;
    if (const auto status = setup.CreateDeviceSet(classId, handle);
        status.outcome != DeviceSetup::Outcome::Ok) {
        Raise(setup, status);
    }
    const DeviceSet set(setup, handle);
    for (std::uint32_t index = 0;; ++index) {
        const DeviceSetup::Status status = setup.EnumerateInterface(set.get(), classId, index);
        if (status.outcome == DeviceSetup::Outcome::NoMoreItems) {
            return;
        }
        if (status.outcome != DeviceSetup::Outcome::Ok) {
            Raise(setup, status);
        }
        std::string devicePath;
        std::string friendlyName;
        std::string portName;
        ReadInterfaceNames(setup, set.get(), index, devicePath, friendlyName, portName);
        friendlyNames.push_back(std::move(friendlyName));
        devicePaths.push_back(std::move(devicePath));
        portNames.push_back(std::move(portName));
    }
}

void ReadInterfaceNames(DeviceSetup& setup, DeviceSetup::SetHandle set, std::uint32_t index,
                        std::string& devicePath, std::string& friendlyName, std::string& portName) {
    const DeviceSetup::Status sizeQuery = setup.QueryInterfaceDetailSize(set, index);
    if (sizeQuery.outcome != DeviceSetup::Outcome::InsufficientBuffer) {
        Raise(setup, sizeQuery);
    }
    std::string path;
    std::string name;
    // An interface whose detail or name can't be read still gets its entry, with empty texts.
    if (!setup.ReadInterfaceDetail(set, index, path) || !setup.ReadFriendlyName(set, index, name)) {
        return;
    }
    portName = PortNameFromFriendlyName(name, setup.PortNameMarker());
    devicePath = std::move(path);
    friendlyName = std::move(name);
}

std::string PortNameFromFriendlyName(const std::string& friendlyName, const std::string& marker) {
    const std::size_t found = friendlyName.find(marker);
    const long long p = found == std::string::npos ? -1 : static_cast<long long>(found);
    const long long length = static_cast<long long>(friendlyName.size()) - p - 2;
    if (length <= 0) {
        return {};
    }
    return friendlyName.substr(static_cast<std::size_t>(p + 1), static_cast<std::size_t>(length));
}

bool CanOpenPort(DeviceSetup& setup, const std::string& name) {
    return setup.CanOpenPort(name);
}

std::vector<PortRecord> FindPortsWith(DeviceSetup& setup) {
    std::vector<std::string> friendlyNames;
    std::vector<std::string> devicePaths;
    std::vector<std::string> portNames;
    EnumeratePortsClass(setup, friendlyNames, devicePaths, portNames);

    std::vector<PortRecord> ports;
    if (friendlyNames.empty()) {
        ProbePortNames(setup, ports);
    }
    ports.reserve(friendlyNames.size());
    for (std::size_t i = 0; i < friendlyNames.size(); ++i) {
        const bool present = CanOpenPort(setup, devicePaths[i]);
        ports.push_back({portNames[i], friendlyNames[i], devicePaths[i], present, {}, false});
    }
    AddComPortInterfaces(setup, ports);
    return ports;
}

PortList DiscoverSerialPorts(DeviceSetup& setup) {
    return PortListOf(FindPortsWith(setup));
}

}  // namespace quorvale
