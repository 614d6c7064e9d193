// SPDX-License-Identifier: Apache-2.0
#include "cli/commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli/events.h"
#include "download/texts.h"
#include "files/regular_file.h"
#include "image/firmware_image.h"
#include "image/pack.h"
#include "ports/discovery.h"
#include "ports/port_record.h"

namespace quorvale::cli {
namespace {

int Refuse(const std::string& message) {
    std::fprintf(stderr, "quorvale pack: %s\n", message.c_str());
    return ExitUsage;
}

}  // namespace

std::unique_ptr<FirmwareImage> LoadFirmwareOrSayWhy(const std::string& file) {
    // The image buffer is 64 KiB: too large for a thread's stack to be a good place.
    auto image = std::make_unique<FirmwareImage>();
    const LoadResult result = image->Load(file);
    if (result != LoadOk) {
        std::fprintf(stderr, "%s\n", LoadResultMessageWithHint(result, file).c_str());
        return nullptr;
    }
    return image;
}

int RunInfo(const InfoOptions& options) {
    const auto image = LoadFirmwareOrSayWhy(options.file);
    if (!image) {
        return ExitUsage;
    }
    if (options.json) {
        Json header = ImageFields(options.file, *image);
        header.erase("tool_version");
        std::printf("%s\n", JsonLine(header).c_str());
        return ExitSuccess;
    }
    std::printf("Baud rate: %u\nHardware: %u\nStart: %u\nLength: %u\nVersion: %u\n",
                image->GetBaudRate(), unsigned{image->GetHardwareCode()}, image->GetStartAddress(),
                image->GetFileSize(), unsigned{image->GetVersion()});
    return ExitSuccess;
}

int RunPack(const PackOptions& options) {
    const auto input = ReadSmallFile(options.input, kPackInputLimit);
    if (!input) {
        return Refuse(input.error().Words());
    }
    const auto file = PackFirmwareFile(*input, options.input, options.settings);
    if (!file) {
        return Refuse(file.error().Words());
    }
    if (const Status written = WriteFileAtomically(options.output, *file); !written) {
        std::fprintf(stderr, "quorvale pack: %s\n", written.error().Words().c_str());
        return ExitFailure;
    }
    return ExitSuccess;
}

namespace {

Json PortObject(const PortRecord& port) {
    const PortIdentity& identity = port.identity;
    const auto orNull = [](const std::optional<std::string>& value) {
        return value ? Json(*value) : Json(nullptr);
    };
    return {
        {"port", port.portName},
        {"friendly_name", port.friendlyName},
        {"by_id", orNull(identity.byId)},
        {"by_path", orNull(identity.byPath)},
        {"usb_vid", orNull(identity.usbVendorId)},
        {"usb_pid", orNull(identity.usbProductId)},
        {"serial_number", orNull(identity.serialNumber)},
        {"manufacturer", orNull(identity.manufacturer)},
        {"product", orNull(identity.product)},
        {"usb_interface", orNull(identity.usbInterface)},
        {"simulated", port.simulated},
    };
}

}  // namespace

int RunPorts(const PortsOptions& options) {
    std::vector<PortRecord> ports;
    try {
        ports = FindPorts();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "quorvale ports: %s\n", error.what());
        return ExitFailure;
    }
    if (options.json) {
        // A program reading the list takes "no ports" as an empty list, not as a failure.
        Json list = Json::array();
        for (const PortRecord& port : ports) {
            list.push_back(PortObject(port));
        }
        std::printf("%s\n", JsonLine(list).c_str());
        return ExitSuccess;
    }
    if (ports.empty()) {
        std::fprintf(stderr, "%s\n", DialogMessages::NoPortsAvailable);
        return ExitFailure;
    }
    for (const PortRecord& port : ports) {
        std::printf("%s\t%s\n", port.portName.c_str(), port.friendlyName.c_str());
    }
    return ExitSuccess;
}

}  // namespace quorvale::cli
