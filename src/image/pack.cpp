// SPDX-License-Identifier: Apache-2.0
// From what a controller's build emits to a firmware file, in one place: the command line only
// reads the input and writes the result.
#include "image/pack.h"

#include "image/firmware_file.h"
#include "image/firmware_image.h"
#include "image/image_input.h"
#include "image/input_messages.h"
#include "image/record_file.h"

namespace quorvale {
namespace {

constexpr std::size_t kAddressSpace = FirmwareImage::MaxDataSize;
constexpr std::size_t kPage = FirmwareImage::PageSize;

Status CheckSettings(const PackSettings& settings) {
    if (settings.baudRate == 0 || settings.baudRate > 65535) {
        return Malformed(PackMessages::BaudRange);
    }
    if (settings.hardwareCode > 255 || settings.version > 255) {
        return Malformed(PackMessages::HeaderRange);
    }
    if (settings.startAddress && *settings.startAddress % kPage != 0) {
        return Malformed(PackMessages::StartNotPage);
    }
    return {};
}

Result<LaidOutImage> RawImage(std::span<const std::uint8_t> input, const std::string& name,
                              const PackSettings& settings) {
    if (LooksLikeRecords(input)) {
        return Malformed(FillMessage(PackMessages::FirstLineNotRecord, name.c_str()));
    }
    if (!settings.startAddress || settings.base) {
        return Malformed(PackMessages::RawNeedsStart);
    }
    if (input.size() > kAddressSpace) {
        return Refused({ErrorKind::TooLarge, 0,
                        FillMessage(PackMessages::RawTooLarge, name.c_str(), kAddressSpace)});
    }
    return LaidOutImage{*settings.startAddress, {input.begin(), input.end()}};
}

Result<std::vector<Segment>> ReadSegments(std::span<const std::uint8_t> input,
                                          const std::string& name, InputFormat format) {
    auto segments =
        format == InputFormat::Elf ? ReadElfSegments(input) : ReadRecordFile(input, name, format);
    if (!segments) {
        return Malformed(FillMessage(PackMessages::InputRefused, InputFormatName(format),
                                     segments.error().Words().c_str()));
    }
    return segments;
}

// The image data of the input and where it starts, by the input's form.
Result<LaidOutImage> ReadImage(std::span<const std::uint8_t> input, const std::string& name,
                               const PackSettings& settings) {
    if (input.empty()) {
        return Malformed(FillMessage(PackMessages::Empty, name.c_str()));
    }
    const InputFormat format = RecogniseInputFormat(input);
    if (format == InputFormat::Raw) {
        return RawImage(input, name, settings);
    }
    const auto segments = ReadSegments(input, name, format);
    if (!segments) {
        return Refused(segments.error());
    }
    auto image = LayOutImage(*segments, settings.base.value_or(0), settings.startAddress);
    if (!image) {
        return Malformed(FillMessage(PackMessages::ImageRefused, name.c_str(),
                                     InputFormatName(format), image.error().Words().c_str()));
    }
    return image;
}

}  // namespace

Result<std::vector<std::uint8_t>> PackFirmwareFile(std::span<const std::uint8_t> input,
                                                   const std::string& name,
                                                   const PackSettings& settings) {
    if (const Status checked = CheckSettings(settings); !checked) {
        return Refused(checked.error());
    }
    auto image = ReadImage(input, name, settings);
    if (!image) {
        return Refused(image.error());
    }
    // Whole pages: the bootloader writes 256-byte blocks, and 0xFF is erased flash.
    std::vector<std::uint8_t>& data = image->data;
    data.resize((data.size() + kPage - 1) / kPage * kPage, 0xFF);
    if (image->start + data.size() > kAddressSpace) {
        return Malformed(
            FillMessage(PackMessages::Beyond64KiB, unsigned{image->start}, data.size()));
    }
    const FirmwareHeader header{static_cast<std::uint16_t>(settings.baudRate),
                                static_cast<std::uint16_t>(image->start),
                                static_cast<std::uint8_t>(settings.version),
                                static_cast<std::uint8_t>(settings.hardwareCode)};
    return EncodeFirmwareFile(header, data);
}

}  // namespace quorvale
