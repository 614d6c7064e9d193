// SPDX-License-Identifier: Apache-2.0
// File bytes in: the loader must answer one of its results, and a file it accepts must be
// exactly what the writer would make of the header values it reports.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "image/firmware_file.h"
#include "image/firmware_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quorvale;
    const int fd = ::memfd_create("firmware", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, data, size) != static_cast<ssize_t>(size)) {
        std::abort();
    }
    const auto image = std::make_unique<FirmwareImage>();
    const LoadResult result = image->Load("/proc/self/fd/" + std::to_string(fd));
    ::close(fd);
    if (result < LoadOk || result > LoadBadChecksum) {
        std::abort();
    }
    if (result != LoadOk) {
        return 0;
    }
    const std::uint32_t length = image->GetLength();
    const unsigned start = image->GetStartAddress();
    if (size != length + 16 || start % 256 != 0 || length % 256 != 0 || start + length > 65536) {
        std::abort();
    }
    const auto rebuilt = EncodeFirmwareFile(
        {static_cast<std::uint16_t>(image->GetBaudRate()), static_cast<std::uint16_t>(start),
         image->GetVersion(), image->GetHardwareCode()},
        {image->GetData(), length});
    // Bytes 8 to 12 and 14 are not interpreted; everything else must match.
    for (std::size_t i = 0; i < size; ++i) {
        const bool ignored = (i >= 8 && i <= 12) || i == 14;
        if (!ignored && rebuilt[i] != data[i]) {
            std::abort();
        }
    }
    return 0;
}
