// SPDX-License-Identifier: Apache-2.0
#include "production/records.h"

#include "download/texts.h"
#include "files/digest.h"

namespace quorvale {

Json ImageFields(const std::string& file, const FirmwareImage& image) {
    return {
        {"file", file},
        {"file_sha256", Sha256Hex(image.GetFileBytes())},
        {"hardware_code", image.GetHardwareCode()},
        {"version", image.GetVersion()},
        {"start", image.GetStartAddress()},
        {"length", image.GetLength()},
        {"bootloader_baud", image.GetBaudRate()},
        {"tool_version", QUORVALE_VERSION},
    };
}

Json JobFields(const std::optional<JobRecord>& job) {
    if (!job) {
        return {{"job_name", nullptr}, {"job_sha256", nullptr}, {"signed_by", nullptr}};
    }
    return {{"job_name", job->name}, {"job_sha256", job->sha256}, {"signed_by", job->signedBy}};
}

const char* FailureKindName(FailureKind kind) {
    return FailureKindNames[static_cast<std::size_t>(kind)];
}

const char* OutcomeName(const DownloadOutcome& result) {
    if (result.Completed()) {
        return "completed";
    }
    return result.kind == FailureKind::Cancelled ? "cancelled" : "failed";
}

}  // namespace quorvale
