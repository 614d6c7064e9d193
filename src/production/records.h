// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

#include "download/session.h"
#include "image/firmware_image.h"
#include "production/json_line.h"

namespace quorvale {

// What every download of a run shares: the file and its header, as `start` events and records
// give them.
Json ImageFields(const std::string& file, const FirmwareImage& image);

// The name events and records give an outcome or a failure kind.
const char* OutcomeName(const DownloadOutcome& result);
const char* FailureKindName(FailureKind kind);

}  // namespace quorvale
