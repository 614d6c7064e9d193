// SPDX-License-Identifier: Apache-2.0
#include "ports/tty_device.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "ports/port_identity.h"
#include "support/temp_dir.h"

namespace quorvale {
namespace {

struct Case {
    const char* name;
    TtyDeviceRecord device;
    bool isPort;
    const char* description;
};

TEST(TtyDevice, WhatIsAPortAndHowItIsDescribed) {
    const Case cases[] = {
        {"USB adapter with its strings",
         {.sysPath = "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0",
          .sysName = "ttyUSB0",
          .hasNode = true,
          .hasParent = true,
          .model = "FT232R_USB_UART",
          .usbProduct = "FT232R USB UART",
          .driver = "ftdi_sio"},
         true,
         "FT232R USB UART"},
        {"USB adapter, no udev daemon: the product string alone",
         {.sysPath = "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0",
          .sysName = "ttyUSB0",
          .hasNode = true,
          .hasParent = true,
          .usbProduct = "CP2102 USB to UART Bridge Controller",
          .driver = "cp210x"},
         true,
         "CP2102 USB to UART Bridge Controller"},
        {"USB adapter without strings",
         {.sysPath = "/devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/ttyUSB1/tty/ttyUSB1",
          .sysName = "ttyUSB1",
          .hasNode = true,
          .hasParent = true,
          .driver = "ch341"},
         true,
         "ch341"},
        {"CDC-ACM device",
         {.sysPath = "/devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0/tty/ttyACM0",
          .sysName = "ttyACM0",
          .hasNode = true,
          .hasParent = true,
          .model = "Board_CDC",
          .driver = "cdc_acm"},
         true,
         "Board CDC"},
        {"serial-core port with a UART",
         {.sysPath = "/devices/pnp0/00:04/00:04:0/00:04:0.0/tty/ttyS0",
          .sysName = "ttyS0",
          .hasNode = true,
          .hasParent = true,
          .uartType = "4",
          .driver = "serial"},
         true,
         "Communications Port"},
        {"serial-core port with no UART (type 0)",
         {.sysPath = "/devices/platform/serial8250/serial8250:0/serial8250:0.1/tty/ttyS1",
          .sysName = "ttyS1",
          .hasNode = true,
          .hasParent = true,
          .uartType = "0",
          .driver = "serial8250"},
         false,
         nullptr},
        {"platform UART",
         {.sysPath = "/devices/platform/soc/fe201000.serial/tty/ttyAMA0",
          .sysName = "ttyAMA0",
          .hasNode = true,
          .hasParent = true,
          .uartType = "32",
          .driver = "uart-pl011"},
         true,
         "Communications Port"},
        {"pseudo-terminal",
         {.sysPath = "/devices/virtual/tty/ptmx", .sysName = "ptmx", .hasNode = true},
         false,
         nullptr},
        {"virtual console with a parent",
         {.sysPath = "/devices/virtual/tty/tty1",
          .sysName = "tty1",
          .hasNode = true,
          .hasParent = true},
         false,
         nullptr},
        {"serial-core port without a device node",
         {.sysPath = "/devices/pnp0/00:04/00:04:0/00:04:0.0/tty/ttyS0",
          .sysName = "ttyS0",
          .hasParent = true,
          .uartType = "4"},
         false,
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsSerialPort(c.device), c.isPort);
        if (c.description) {
            EXPECT_EQ(DescribePort(c.device), c.description);
        }
    }
}

TEST(PortIdentity, StableLinksAreFoundForDeviceNodes) {
    // Links to character devices, as /dev/serial/by-id holds; /dev/null and /dev/zero stand in
    // for two ports.
    test::TempDir dir;
    const std::string folder = dir.File("by-id");
    std::filesystem::create_directory(folder);
    std::filesystem::create_symlink("/dev/zero", folder + "/usb-Other_Adapter-if00");
    std::filesystem::create_symlink("/dev/null", folder + "/usb-FTDI_FT232R_A1B2C3-if00");
    const std::string regular = dir.Write("plain", std::span<const std::uint8_t>{});
    std::filesystem::create_symlink(regular, folder + "/zz-simulated");

    EXPECT_EQ(LinkLeadingTo(folder, "/dev/null"), folder + "/usb-FTDI_FT232R_A1B2C3-if00");
    EXPECT_EQ(LinkLeadingTo(folder, "/dev/zero"), folder + "/usb-Other_Adapter-if00");
    EXPECT_EQ(LinkLeadingTo(folder, regular), folder + "/zz-simulated");
    EXPECT_EQ(LinkLeadingTo(folder, "/dev/full"), std::nullopt);
    EXPECT_EQ(LinkLeadingTo(dir.File("missing"), "/dev/null"), std::nullopt);
}

}  // namespace
}  // namespace quorvale
