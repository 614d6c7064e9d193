// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string>

#include "download/session.h"
#include "image/firmware_image.h"
#include "production/json_line.h"

namespace quorvale {

// What every download of a run shares: the file and its header, as `start` events and records
// give them.
Json ImageFields(const std::string& file, const FirmwareImage& image);

// What a record says of the signed job a file came from: its name, the SHA-256 of the job file
// and the id of the key that signed it; each null without a job.
struct JobRecord {
    std::string name;
    std::string sha256;
    std::string signedBy;
};
Json JobFields(const std::optional<JobRecord>& job);

// The name events and records give an outcome or a failure kind.
const char* OutcomeName(const DownloadOutcome& result);
const char* FailureKindName(FailureKind kind);

}  // namespace quorvale
