// SPDX-License-Identifier: Apache-2.0
// The device-setup layer on Windows: SetupAPI's "ports" class, its present interfaces, their
// detail and friendly names, each with the two-call size queries SetupAPI expects.
// clang-format off
#include <windows.h>
#include <setupapi.h>  // needs windows.h before it
// clang-format on

#include <map>
#include <memory>
#include <vector>

#include "files/system_error.h"
#include "ports/com_port_interface_win32.h"
#include "ports/device_setup.h"

namespace quorvale {
namespace {

struct Interface {
    SP_DEVICE_INTERFACE_DATA data{};
    SP_DEVINFO_DATA device{};
    DWORD detailSize = 0;
};

DeviceSetup::Status Failed() {
    return {DeviceSetup::Outcome::Failed, GetLastError()};
}

class SetupApiDeviceSetup final : public DeviceSetup {
public:
    std::uint32_t ComPortInterface() const override { return kComPortId; }

    const char* PortNameMarker() const override { return "(COM"; }
    const char* ProbeNameFormat() const override { return "COM%d"; }
    std::string ErrorText(std::uint32_t code) const override { return SystemErrorText(code); }

    Status ClassFromName(const std::string& className, std::uint32_t& classId,
                         std::uint32_t& matches) override {
        GUID guid{};
        DWORD required = 0;
        if (!SetupDiClassGuidsFromNameA(className.c_str(), &guid, 1, &required)) {
            return Failed();
        }
        matches = required;
        m_classes.push_back(guid);
        classId = static_cast<std::uint32_t>(m_classes.size() - 1);
        return {};
    }

    Status CreateDeviceSet(std::uint32_t classId, SetHandle& set) override {
        const HDEVINFO info = SetupDiGetClassDevsA(&m_classes.at(classId), nullptr, nullptr,
                                                   DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (info == INVALID_HANDLE_VALUE) {
            return Failed();
        }
        set = reinterpret_cast<SetHandle>(info);
        m_interfaces[set];
        return {};
    }

    void DestroyDeviceSet(SetHandle set) override {
        SetupDiDestroyDeviceInfoList(reinterpret_cast<HDEVINFO>(set));
        m_interfaces.erase(set);
    }

    Status EnumerateInterface(SetHandle set, std::uint32_t classId, std::uint32_t index) override {
        Interface found;
        found.data.cbSize = sizeof found.data;
        if (!SetupDiEnumDeviceInterfaces(reinterpret_cast<HDEVINFO>(set), nullptr,
                                         &m_classes.at(classId), index, &found.data)) {
            return GetLastError() == ERROR_NO_MORE_ITEMS
                       ? Status{Outcome::NoMoreItems, ERROR_NO_MORE_ITEMS}
                       : Failed();
        }
        auto& interfaces = m_interfaces[set];
        interfaces.resize(std::max<std::size_t>(interfaces.size(), index + 1));
        interfaces[index] = found;
        return {};
    }

    Status QueryInterfaceDetailSize(SetHandle set, std::uint32_t index) override {
        Interface& entry = m_interfaces[set].at(index);
        if (SetupDiGetDeviceInterfaceDetailA(reinterpret_cast<HDEVINFO>(set), &entry.data, nullptr,
                                             0, &entry.detailSize, nullptr)) {
            return {Outcome::Ok, GetLastError()};
        }
        const DWORD error = GetLastError();
        return {error == ERROR_INSUFFICIENT_BUFFER ? Outcome::InsufficientBuffer : Outcome::Failed,
                error};
    }

    bool ReadInterfaceDetail(SetHandle set, std::uint32_t index, std::string& devicePath) override {
        Interface& entry = m_interfaces[set].at(index);
        std::vector<std::uint8_t> buffer(
            std::max<DWORD>(entry.detailSize, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        entry.device.cbSize = sizeof entry.device;
        if (!SetupDiGetDeviceInterfaceDetailA(reinterpret_cast<HDEVINFO>(set), &entry.data, detail,
                                              static_cast<DWORD>(buffer.size()), &entry.detailSize,
                                              &entry.device)) {
            return false;
        }
        devicePath = detail->DevicePath;
        return true;
    }

    bool ReadFriendlyName(SetHandle set, std::uint32_t index, std::string& friendlyName) override {
        Interface& entry = m_interfaces[set].at(index);
        const HDEVINFO info = reinterpret_cast<HDEVINFO>(set);
        DWORD required = 0;
        if (SetupDiGetDeviceRegistryPropertyA(info, &entry.device, SPDRP_FRIENDLYNAME, nullptr,
                                              nullptr, 0, &required) ||
            GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            return false;
        }
        std::vector<BYTE> buffer(required + 1, 0);
        if (!SetupDiGetDeviceRegistryPropertyA(info, &entry.device, SPDRP_FRIENDLYNAME, nullptr,
                                               buffer.data(), required, nullptr)) {
            return false;
        }
        friendlyName = reinterpret_cast<const char*>(buffer.data());
        return true;
    }

    bool ReadPortName(SetHandle set, std::uint32_t index, std::string& portName) override {
        Interface& entry = m_interfaces[set].at(index);
        const HKEY key = SetupDiOpenDevRegKey(reinterpret_cast<HDEVINFO>(set), &entry.device,
                                              DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
        if (key == INVALID_HANDLE_VALUE) {
            return false;
        }
        char name[256] = {};
        DWORD size = sizeof name - 1;
        DWORD type = 0;
        const LONG read =
            RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
        RegCloseKey(key);
        if (read != ERROR_SUCCESS || type != REG_SZ || !name[0]) {
            return false;
        }
        portName = name;
        return true;
    }

    // No access rights asked for: this only tells whether the device is there.
    bool CanOpenPort(const std::string& name) override {
        const HANDLE device = CreateFileA(name.c_str(), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (device == nullptr || device == INVALID_HANDLE_VALUE) {
            return false;
        }
        CloseHandle(device);
        return true;
    }

private:
    static constexpr std::uint32_t kComPortId = 0;
    std::vector<GUID> m_classes{kComPortInterface};
    std::map<SetHandle, std::vector<Interface>> m_interfaces;
};

}  // namespace

std::unique_ptr<DeviceSetup> MakeSystemDeviceSetup() {
    return std::make_unique<SetupApiDeviceSetup>();
}

}  // namespace quorvale
