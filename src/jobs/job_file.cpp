// SPDX-License-Identifier: Apache-2.0
#include "jobs/job_file.h"

#include "files/regular_file.h"

namespace quorvale {
namespace {

// A job carries at most a 64 KiB firmware file in base64 and a few lines around it.
constexpr std::size_t kJobFileLimit = 256 * 1024;

Refusal Refuse(const std::string& words) {
    return Refused({ErrorKind::Malformed, 0, words});
}

}  // namespace

std::optional<std::string> ChoiceRefusal(const FirmwareChoice& choice, bool locked,
                                         const std::string& folder) {
    const bool plain = !choice.file.empty();
    if (plain && choice.job) {
        return "give a firmware file or --job, not both";
    }
    if (!plain && !choice.job) {
        return "give a firmware file, or --job JOBFILE";
    }
    if (locked) {
        const std::string locked = "the station is locked (by the keys in " + folder +
                                   "): it takes only a job they signed";
        if (plain) {
            return locked + ", not a firmware file";
        }
        if (!choice.trust.empty()) {
            return locked + ", and no --trust";
        }
        if (choice.lineOptionsGiven) {
            return locked + ", with the line settings it holds";
        }
    }
    if (choice.job && choice.lineOptionsGiven) {
        return "line options can't be given beside a job: it holds the line settings";
    }
    if (plain && !choice.trust.empty()) {
        return "--trust is for a job";
    }
    return std::nullopt;
}

Result<OpenedJob> OpenJobFile(const std::string& path, const std::vector<std::string>& trustFiles,
                              const StationLock& lock) {
    const auto bytes = ReadSmallFile(path, kJobFileLimit);
    if (!bytes) {
        return Refused(bytes.error());
    }
    auto trusted =
        lock.locked ? Result<std::vector<TrustedKey>>(lock.keys) : ReadTrustedKeys(trustFiles);
    if (!trusted) {
        return Refused(trusted.error());
    }
    if (lock.locked && trusted->empty()) {
        return Refuse("job '" + path + "' refused by its key check: the station is locked by " +
                      lock.folder + ", which holds no key (*.pub)");
    }
    auto opened = OpenJob(*bytes, *trusted);
    if (const auto* refusal = std::get_if<JobRefusal>(&opened)) {
        return Refuse("job '" + path + "' refused by its " + JobCheckName(refusal->check) +
                      " check: " + refusal->words);
    }
    OpenedJob job{std::move(std::get<Job>(opened)), std::make_unique<FirmwareImage>()};
    // The check loaded it once already; this copy is what the downloads send.
    job.image->LoadBytes(job.job.firmware);
    return job;
}

JobRecord RecordOf(const Job& job) {
    return {job.name, job.jobSha256, job.keyId};
}

}  // namespace quorvale
