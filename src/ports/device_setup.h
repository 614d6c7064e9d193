// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace quorvale {

// The platform's device-setup service, reduced to the steps port discovery takes. Each step
// answers a status instead of raising, so that the discovery algorithm alone decides what is
// an error, and releases the device information set on every path.
class DeviceSetup {
public:
    using SetHandle = std::uintptr_t;

    enum class Outcome { Ok, NoMoreItems, InsufficientBuffer, Failed };
    struct Status {
        Outcome outcome = Outcome::Ok;
        std::uint32_t code = 0;  // the system's error code when not Ok
    };

    virtual ~DeviceSetup() = default;

    // Where the port name starts in a friendly name: "(COM" on Windows, "(/dev/" on Linux.
    virtual const char* PortNameMarker() const = 0;
    // The names the fallback probe tries with 0 to 9: "COM%d", "/dev/ttyS%d".
    virtual const char* ProbeNameFormat() const = 0;
    // The system's words for one of its error codes.
    virtual std::string ErrorText(std::uint32_t code) const = 0;

    // The setup class of that name: how many classes matched (room is given for one).
    virtual Status ClassFromName(const std::string& className, std::uint32_t& classId,
                                 std::uint32_t& matches) = 0;
    // A set of the present devices that offer the class's interface.
    virtual Status CreateDeviceSet(std::uint32_t classId, SetHandle& set) = 0;
    virtual void DestroyDeviceSet(SetHandle set) = 0;
    // The interface at `index`; NoMoreItems after the last.
    virtual Status EnumerateInterface(SetHandle set, std::uint32_t classId,
                                      std::uint32_t index) = 0;
    // The size query for an interface's detail, which succeeds by answering InsufficientBuffer.
    virtual Status QueryInterfaceDetailSize(SetHandle set, std::uint32_t index) = 0;
    // The interface's device path and its friendly name; false when either can't be read.
    virtual bool ReadInterfaceDetail(SetHandle set, std::uint32_t index,
                                     std::string& devicePath) = 0;
    virtual bool ReadFriendlyName(SetHandle set, std::uint32_t index,
                                  std::string& friendlyName) = 0;

    // The id of the COM-port device interface, for CreateDeviceSet and EnumerateInterface:
    // every COM port's driver registers it, USB CDC adapters' (which the "ports" class's own
    // interface leaves out) included.
    virtual std::uint32_t ComPortInterface() const = 0;
    // The port name the device's own settings hold ("PortName"), after ReadInterfaceDetail;
    // false when it can't be read.
    virtual bool ReadPortName(SetHandle set, std::uint32_t index, std::string& portName) = 0;

    // Whether a device of this name can be opened without access rights. Touches nothing.
    virtual bool CanOpenPort(const std::string& name) = 0;
};

// The device-setup service of the system the program runs on.
std::unique_ptr<DeviceSetup> MakeSystemDeviceSetup();

}  // namespace quorvale
