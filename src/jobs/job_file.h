// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "files/error.h"
#include "image/firmware_image.h"
#include "jobs/job.h"
#include "production/records.h"

// How the command line and the station take a job instead of a firmware file, and what a
// station locked by the system's trusted keys still takes.
namespace quorvale {

// What a program was given to flash.
struct FirmwareChoice {
    // A firmware file; empty with a job.
    std::string file;
    std::optional<std::string> job;
    std::vector<std::string> trust;
    bool lineOptionsGiven = false;
};

// The rules, from what was given and whether the station is locked (by the keys in `folder`):
// the refusal's words, or nothing when it may go on.
std::optional<std::string> ChoiceRefusal(const FirmwareChoice& choice, bool locked,
                                         const std::string& folder);

// A job file that passed every check, with its firmware loaded.
struct OpenedJob {
    Job job;
    std::unique_ptr<FirmwareImage> image;
};

// Reads the job at `path` and checks it against the locking keys on a locked station, or else
// against the keys of `trustFiles`. The refusal's words name the job and the check that failed.
Result<OpenedJob> OpenJobFile(const std::string& path, const std::vector<std::string>& trustFiles,
                              const StationLock& lock);

// The records' job fields.
JobRecord RecordOf(const Job& job);

}  // namespace quorvale
