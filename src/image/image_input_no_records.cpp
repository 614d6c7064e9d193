// SPDX-License-Identifier: Apache-2.0
#include "image/image_input.h"

namespace quorvale {

// libsrecord is not among what the Windows build is made from.
Result<std::vector<Segment>> ReadRecordFile(std::span<const std::uint8_t>, const std::string&,
                                            InputFormat format) {
    return Malformed(std::string(InputFormatName(format)) +
                     " input is read by the Linux build only; give raw binary or ELF here");
}

}  // namespace quorvale
