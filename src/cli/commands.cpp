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
#include "image/firmware_file.h"
#include "image/firmware_image.h"
#include "image/image_input.h"
#include "image/record_file.h"
#include "ports/discovery.h"
#include "ports/port_record.h"

namespace quorvale::cli {
namespace {

constexpr std::uint32_t kAddressSpace = 65536;
constexpr std::uint32_t kPage = 256;

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

namespace {

// Input files of a build (an ELF with its debug sections, a HEX file) are larger than the
// image they hold; this bounds what is read.
constexpr std::size_t kInputLimit = 64 * 1024 * 1024;

// The image data of the input and where it starts, by the input's form.
Result<LaidOutImage> ReadImageData(const PackOptions& options) {
    auto bytes = ReadSmallFile(options.input, kInputLimit);
    if (!bytes) {
        return Refused(bytes.error());
    }
    if (bytes->empty()) {
        return Malformed("'" + options.input + "' is empty");
    }
    const InputFormat format = RecogniseInputFormat(*bytes);
    if (format == InputFormat::Raw) {
        if (LooksLikeRecords(*bytes)) {
            return Malformed("'" + options.input +
                             "' starts like Intel HEX or S-records but its first line is not one");
        }
        if (!options.startAddress || options.base) {
            return Malformed("raw binary input needs --start, and takes no --base");
        }
        if (bytes->size() > kAddressSpace) {
            return Refused({ErrorKind::TooLarge, 0,
                            "'" + options.input + "' is larger than " +
                                std::to_string(kAddressSpace) + " bytes"});
        }
        return LaidOutImage{*options.startAddress, std::move(*bytes)};
    }
    const auto segments = format == InputFormat::Elf
                              ? ReadElfSegments(*bytes)
                              : ReadRecordFile(*bytes, options.input, format);
    if (!segments) {
        return Malformed(std::string(InputFormatName(format)) +
                         " input: " + segments.error().Words());
    }
    auto image = LayOutImage(*segments, options.base.value_or(0), options.startAddress);
    if (!image) {
        return Malformed("'" + options.input + "' (" + InputFormatName(format) +
                         "): " + image.error().Words());
    }
    return image;
}

}  // namespace

int RunPack(const PackOptions& options) {
    if (options.baudRate == 0 || options.baudRate > 65535) {
        return Refuse("--baud must be 1 to 65535");
    }
    if (options.hardwareCode > 255 || options.version > 255) {
        return Refuse("--hardware and --version must be 0 to 255");
    }
    if (options.startAddress && *options.startAddress % kPage != 0) {
        return Refuse("--start must be a multiple of 256");
    }
    auto image = ReadImageData(options);
    if (!image) {
        return Refuse(image.error().Words());
    }
    // Whole pages: the bootloader writes 256-byte blocks, and 0xFF is erased flash.
    std::vector<std::uint8_t>& data = image->data;
    data.resize((data.size() + kPage - 1) / kPage * kPage, 0xFF);
    if (image->start + data.size() > kAddressSpace) {
        return Refuse("start " + std::to_string(image->start) + " plus " +
                      std::to_string(data.size()) + " bytes of data lies beyond 64 KiB");
    }
    const FirmwareHeader header{static_cast<std::uint16_t>(options.baudRate),
                                static_cast<std::uint16_t>(image->start),
                                static_cast<std::uint8_t>(options.version),
                                static_cast<std::uint8_t>(options.hardwareCode)};
    if (const Status written =
            WriteFileAtomically(options.output, EncodeFirmwareFile(header, data));
        !written) {
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
