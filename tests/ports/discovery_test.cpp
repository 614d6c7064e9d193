// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "ports/setupapi_discovery.h"
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <functional>
#include <set>

#include "ports/natural_order.h"
#ifndef _WIN32
#include "ports/tty_device.h"
#endif

namespace quorvale {
namespace {

using Names = std::vector<std::string>;

struct FakeInterface {
    std::string devicePath;
    std::string friendlyName;
    bool detailReadable = true;
    bool nameReadable = true;
    DeviceSetup::Status sizeQuery{DeviceSetup::Outcome::InsufficientBuffer, 0};
    // What the device's settings hold as its port name; empty when they can't be read.
    std::string portName = {};
};

// The described class's set, and the COM-port interface's.
constexpr DeviceSetup::SetHandle kPortsSet = 7;
constexpr DeviceSetup::SetHandle kComPortSet = 8;
constexpr std::uint32_t kPortsClass = 42;
constexpr std::uint32_t kComPortInterfaceId = 43;

// A scripted device-setup service that records what discovery asked of it.
class FakeDeviceSetup final : public DeviceSetup {
public:
    std::string marker = "(COM";
    std::string probeFormat = "COM%d";
    Status classLookup;
    std::uint32_t classMatches = 1;
    Status setCreation;
    std::vector<FakeInterface> interfaces;
    std::optional<std::pair<std::uint32_t, Status>> enumerationFailure;  // at index
    std::vector<FakeInterface> comPortInterfaces;
    Status comPortSetCreation;
    std::set<std::string> openable;

    // Of the "ports" class's set.
    int setsCreated = 0;
    int setsDestroyed = 0;
    int comPortSetsOpen = 0;
    Names openAttempts;

    const char* PortNameMarker() const override { return marker.c_str(); }
    const char* ProbeNameFormat() const override { return probeFormat.c_str(); }
    std::string ErrorText(std::uint32_t code) const override {
        return "error " + std::to_string(code);
    }
    Status ClassFromName(const std::string& name, std::uint32_t& id,
                         std::uint32_t& matches) override {
        EXPECT_EQ(name, "ports");
        id = kPortsClass;
        matches = classMatches;
        return classLookup;
    }
    std::uint32_t ComPortInterface() const override { return kComPortInterfaceId; }
    Status CreateDeviceSet(std::uint32_t id, SetHandle& set) override {
        if (id == kComPortInterfaceId) {
            set = kComPortSet;
            comPortSetsOpen += comPortSetCreation.outcome == Outcome::Ok;
            return comPortSetCreation;
        }
        EXPECT_EQ(id, kPortsClass);
        if (setCreation.outcome == Outcome::Ok) {
            set = kPortsSet;
            ++setsCreated;
        }
        return setCreation;
    }
    void DestroyDeviceSet(SetHandle set) override {
        EXPECT_TRUE(set == kPortsSet || set == kComPortSet);
        set == kPortsSet ? ++setsDestroyed : --comPortSetsOpen;
    }
    Status EnumerateInterface(SetHandle set, std::uint32_t id, std::uint32_t index) override {
        EXPECT_EQ(id, set == kPortsSet ? kPortsClass : kComPortInterfaceId);
        if (set == kPortsSet && enumerationFailure && enumerationFailure->first == index) {
            return enumerationFailure->second;
        }
        return index < Of(set).size() ? Status{} : Status{Outcome::NoMoreItems, 259};
    }
    Status QueryInterfaceDetailSize(SetHandle set, std::uint32_t index) override {
        return Of(set).at(index).sizeQuery;
    }
    bool ReadInterfaceDetail(SetHandle set, std::uint32_t index, std::string& path) override {
        path = Of(set).at(index).devicePath;
        return Of(set).at(index).detailReadable;
    }
    bool ReadFriendlyName(SetHandle set, std::uint32_t index, std::string& name) override {
        name = Of(set).at(index).friendlyName;
        return Of(set).at(index).nameReadable;
    }
    bool ReadPortName(SetHandle set, std::uint32_t index, std::string& name) override {
        name = Of(set).at(index).portName;
        return !name.empty();
    }
    bool CanOpenPort(const std::string& name) override {
        openAttempts.push_back(name);
        return openable.count(name) > 0;
    }

private:
    const std::vector<FakeInterface>& Of(SetHandle set) const {
        return set == kPortsSet ? interfaces : comPortInterfaces;
    }
};

struct Entry {
    std::string friendlyName, devicePath, portName;
    bool present;
    friend bool operator==(const Entry&, const Entry&) = default;
    friend std::ostream& operator<<(std::ostream& out, const Entry& e) {
        return out << "{" << e.friendlyName << ", " << e.devicePath << ", " << e.portName << ", "
                   << e.present << "}";
    }
};

std::vector<Entry> Entries(const PortList& ports) {
    std::vector<Entry> entries;
    for (const PortEntry& port : ports) {
        entries.push_back({port->GetFriendlyName(), port->GetDevicePath(), port->GetPortName(),
                           port->IsPresent()});
    }
    return entries;
}

Names Probed(const std::string& format) {
    Names names;
    for (int k = 0; k < 10; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, format.c_str(), k);
        names.push_back(name);
    }
    return names;
}

TEST(PortNameFromFriendlyName, TakesTheTextFromTheMarkerToTheNextToLastCharacter) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"USB Serial Port (COM12)", "(COM", "COM12"},
        {"Communications Port (COM1)", "(COM", "COM1"},
        {"No marker here", "(COM", "No marker her"},
        {"Port (COM3) extra", "(COM", "COM3) extr"},
        {"", "(COM", ""},
        {"X", "(COM", ""},
        {"FT232R USB UART (/dev/ttyUSB0)", "(/dev/", "/dev/ttyUSB0"},
        {"Simulated controller (/dev/pts/3)", "(/dev/", "/dev/pts/3"},
    };
    for (const auto& [friendly, marker, port] : cases) {
        EXPECT_EQ(PortNameFromFriendlyName(friendly, marker), port) << friendly;
    }
}

TEST(DiscoverSerialPorts, EnumeratedInterfacesInOrderWithTheirPresence) {
    FakeDeviceSetup setup;
    setup.interfaces = {
        {"\\\\?\\usb#a", "USB Serial Port (COM12)"},
        {"\\\\?\\acpi#b", "Communications Port (COM1)"},
        {"\\\\?\\x#c", "unreadable detail", false, true},
        {"\\\\?\\x#d", "unreadable name", true, false},
        {"\\\\?\\x#e", "Odd name"},
    };
    setup.openable = {"\\\\?\\usb#a", "\\\\?\\x#e"};

    const PortList ports = DiscoverSerialPorts(setup);

    const std::vector<Entry> expected = {
        {"USB Serial Port (COM12)", "\\\\?\\usb#a", "COM12", true},
        {"Communications Port (COM1)", "\\\\?\\acpi#b", "COM1", false},
        {"", "", "", false},
        {"", "", "", false},
        {"Odd name", "\\\\?\\x#e", "Odd nam", true},
    };
    EXPECT_EQ(Entries(ports), expected);
    EXPECT_EQ(setup.setsCreated, 1);
    EXPECT_EQ(setup.setsDestroyed, 1);
    EXPECT_EQ(setup.openAttempts.size(), 5u) << "the probe ran after a successful enumeration";
}

// A USB CDC adapter registers only the COM-port interface: it is listed after what the
// "ports" class gave, once, and a failing look at that interface leaves the list as it was.
TEST(DiscoverSerialPorts, AddsPortsOfTheComPortInterfaceNotYetListed) {
    using Outcome = DeviceSetup::Outcome;
    const FakeInterface uart{"\\\\?\\acpi#uart",
                             "Communications Port (COM1)",
                             true,
                             true,
                             {Outcome::InsufficientBuffer, 0},
                             "COM1"};
    const FakeInterface cdc{
        "\\\\?\\usb#cdc", "USB Serial Device (COM12)", true, true, {Outcome::InsufficientBuffer, 0},
        "COM12"};
    const struct {
        const char* name;
        std::vector<FakeInterface> comPorts;
        DeviceSetup::Status comPortSet;
        std::vector<Entry> expected;
    } cases[] = {
        {"a CDC adapter beside a UART",
         {uart, cdc},
         {},
         {{"Communications Port (COM1)", uart.devicePath, "COM1", true},
          {"USB Serial Device (COM12)", cdc.devicePath, "COM12", true}}},
        {"the same name in another case is the same port",
         {{"\\\\?\\x#y", "Other (com1)", true, true, {Outcome::InsufficientBuffer, 0}, "com1"}},
         {},
         {{"Communications Port (COM1)", uart.devicePath, "COM1", true}}},
        {"no port name, no name in place of it",
         {{cdc.devicePath, cdc.friendlyName, true, true, {Outcome::InsufficientBuffer, 0}, ""}},
         {},
         {{"Communications Port (COM1)", uart.devicePath, "COM1", true}}},
        {"an unreadable friendly name is the port's name",
         {{cdc.devicePath, "", true, false, {Outcome::InsufficientBuffer, 0}, "COM12"}},
         {},
         {{"Communications Port (COM1)", uart.devicePath, "COM1", true},
          {"COM12", cdc.devicePath, "COM12", true}}},
        {"the interface's set can't be made",
         {cdc},
         {Outcome::Failed, 13},
         {{"Communications Port (COM1)", uart.devicePath, "COM1", true}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDeviceSetup setup;
        setup.interfaces = {uart};
        setup.comPortInterfaces = c.comPorts;
        setup.comPortSetCreation = c.comPortSet;
        setup.openable = {uart.devicePath, cdc.devicePath};

        EXPECT_EQ(Entries(DiscoverSerialPorts(setup)), c.expected);
        EXPECT_EQ(setup.comPortSetsOpen, 0);
    }
}

TEST(DiscoverSerialPorts, ProbesTheTenFirstNamesOnlyWhenNothingIsEnumerated) {
    struct Case {
        std::string format;
        std::set<std::string> openable;
        std::vector<std::string> found;
    };
    const Case cases[] = {
        {"COM%d", {"COM3", "COM5", "COM10"}, {"COM3", "COM5"}},
        {"COM%d", {}, {}},
        {"/dev/ttyS%d", {"/dev/ttyS9", "/dev/ttyS1", "/dev/ttyS10"}, {"/dev/ttyS1", "/dev/ttyS9"}},
    };
    for (const Case& c : cases) {
        FakeDeviceSetup setup;
        setup.probeFormat = c.format;
        setup.openable = c.openable;

        const PortList ports = DiscoverSerialPorts(setup);

        std::vector<Entry> expected;
        for (const std::string& name : c.found) {
            expected.push_back({name, name, name, true});
        }
        EXPECT_EQ(Entries(ports), expected);
        EXPECT_EQ(setup.openAttempts, Probed(c.format));
        EXPECT_EQ(setup.setsDestroyed, 1);
    }
}

TEST(DiscoverSerialPorts, ErrorsPassOnWithTheSetReleasedAndNoProbe) {
    using Outcome = DeviceSetup::Outcome;
    struct Case {
        const char* name;
        std::function<void(FakeDeviceSetup&)> arrange;
        std::optional<std::uint32_t> code;  // nothing: the no-guids message
        int setsCreated;
    };
    const Case cases[] = {
        {"class lookup fails",
         [](auto& s) {
             s.classLookup = {Outcome::Failed, 5};
         },
         5u, 0},
        {"no ports class", [](auto& s) { s.classMatches = 0; }, std::nullopt, 0},
        {"set can't be created",
         [](auto& s) {
             s.setCreation = {Outcome::Failed, 8};
         },
         8u, 0},
        {"enumeration fails",
         [](auto& s) {
             s.interfaces = {{"a", "A (COM1)"}};
             s.enumerationFailure = {1, {Outcome::Failed, 13}};
         },
         13u, 1},
        {"detail size query succeeds",
         [](auto& s) {
             s.interfaces = {{"a", "A (COM1)", true, true, {Outcome::Ok, 0}}};
         },
         0u, 1},
        {"detail size query fails otherwise",
         [](auto& s) {
             s.interfaces = {{"a", "A (COM1)", true, true, {Outcome::Failed, 87}}};
         },
         87u, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDeviceSetup setup;
        setup.openable = {"COM1"};
        c.arrange(setup);
        try {
            DiscoverSerialPorts(setup);
            ADD_FAILURE() << "no error raised";
        } catch (const SystemErrorCode& error) {
            ASSERT_TRUE(c.code.has_value());
            EXPECT_EQ(error.Code(), *c.code);
            EXPECT_EQ(std::string(error.what()), "error " + std::to_string(*c.code));
        } catch (const NoPortsClassError& error) {
            EXPECT_FALSE(c.code.has_value());
            EXPECT_STREQ(error.what(), "There are no guids associated with the ports class");
        }
        EXPECT_EQ(setup.setsCreated, c.setsCreated);
        EXPECT_EQ(setup.setsDestroyed, c.setsCreated);
        EXPECT_TRUE(setup.openAttempts.empty());
    }
}

// Counts its own destructions, to show each port is destroyed exactly once.
class CountedPort : public SerialPort {
public:
    CountedPort(int& destroyed, const std::string& name)
        : SerialPort(name, name, name, true), m_destroyed(destroyed) {}
    ~CountedPort() override { ++m_destroyed; }

private:
    int& m_destroyed;
};

TEST(PortList, DestroysEveryPortExactlyOnceThroughMovesAndClears) {
    int destroyed = 0;
    {
        PortList first;
        for (const char* name : {"a", "b", "c"}) {
            first.push_back(std::make_unique<CountedPort>(destroyed, name));
        }
        PortList second = std::move(first);
        PortEntry taken = std::move(second[1]);
        second[1] = std::make_unique<CountedPort>(destroyed, "d");
        second[0] = std::move(second[0]);
        EXPECT_EQ(destroyed, 0);
        second.clear();
        EXPECT_EQ(destroyed, 3);
        EXPECT_EQ(taken->GetPortName(), "b");
    }
    EXPECT_EQ(destroyed, 4);
}

TEST(NaturalOrder, NumbersInNamesCountAsNumbers) {
    Names names = {"/dev/ttyUSB1", "/dev/ttyS10",  "/dev/ttyACM0",
                   "/dev/ttyS2",   "/dev/ttyUSB0", "/dev/ttyS02"};
    std::sort(names.begin(), names.end(), NaturalLess);
    EXPECT_EQ(names, (Names{"/dev/ttyACM0", "/dev/ttyS2", "/dev/ttyS02", "/dev/ttyS10",
                            "/dev/ttyUSB0", "/dev/ttyUSB1"}));
}

TEST(SystemPorts, FoundWithoutError) {
    EXPECT_NO_THROW(FindPorts());
}

#ifndef _WIN32
TEST(SystemPorts, AreDeviceNodesThatExistOrSimulators) {
    for (const PortRecord& port : FindPorts()) {
        SCOPED_TRACE(port.friendlyName);
        struct stat info {};
        EXPECT_EQ(::stat(port.devicePath.c_str(), &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode));
        EXPECT_EQ(port.portName, port.devicePath);
        EXPECT_TRUE(port.portName.starts_with("/dev/tty") || port.simulated) << port.portName;
        // The list's name is the record's: nothing is read back out of a friendly name.
        EXPECT_TRUE(port.friendlyName.ends_with("(" + port.portName + ")") ||
                    port.friendlyName == port.portName);
    }
}

TEST(SystemPorts, ANodeThatExistsIsNoPortWithoutATtyBehindIt) {
    // The probe's test: a node that is there is not yet a port. (Which ttys are ports, a ttyS
    // node with no UART behind it among them, is decided from the table of tty_device_test.)
    for (const char* node : {"/dev/null", "/dev/zero", "/", "/dev/ttyMissing"}) {
        SCOPED_TRACE(node);
        EXPECT_FALSE(NodeIsSerialPort(node));
    }
}
#endif

}  // namespace
}  // namespace quorvale
