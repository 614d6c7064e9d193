// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

#include "image/firmware_image.h"
#include "link/port_handle.h"

namespace quorvale::bench {

// The same download as the tool's, written as plainly as it can be: one blocking poll per
// wait, no retries, no stop checks. What it takes is the floor for this machine.
bool ReferenceDownload(const std::string& port, const FirmwareImage& image,
                       const LineSettings& application);

}  // namespace quorvale::bench
