// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "files/error.h"
#include "jobs/keys.h"
#include "link/port_handle.h"
#include "production/json_line.h"

// A job: one signed document that carries a firmware file and the application's line
// settings, so that a station flashes only what engineering approved, at the settings it
// approved.
namespace quorvale {

inline constexpr char kJobFormat[] = "quorvale-job";
inline constexpr int kJobVersion = 1;

struct JobRequest {
    std::string firmwarePath;
    std::string name;
    LineSettings line;
    // When the job is made, as records give times.
    std::string madeAt;
};

// The job's document, signed with `key`; refused with the described message when the firmware
// does not load, and nothing is made.
Result<std::string> MakeJob(const JobRequest& request, const KeyPair& key);

// What a job holds once every check has passed.
struct Job {
    std::string name;
    std::string firmwareFile;
    std::string firmwareSha256;
    std::vector<std::uint8_t> firmware;
    LineSettings line;
    std::string madeAt;
    std::string keyId;
    // Of the job file as it lies on disk.
    std::string jobSha256;
};

// The checks a job goes through, in order; a refusal names the one that failed.
enum class JobCheck { Document, Format, Fields, Key, Signature, Digest, Firmware };
const char* JobCheckName(JobCheck check);

struct JobRefusal {
    JobCheck check;
    std::string words;
};

// A job file's document, once it is JSON of this format and version with every field; what
// `job show` prints. Checks nothing of the signature or the firmware.
std::variant<Json, JobRefusal> ReadJobDocument(std::span<const std::uint8_t> file);

// Reads a job file's bytes and makes every check: the document, the signature by one of
// `trusted` (none trusted: refused), the embedded firmware matching its digest, and the
// firmware loading.
std::variant<Job, JobRefusal> OpenJob(std::span<const std::uint8_t> file,
                                      const std::vector<TrustedKey>& trusted);

// The bytes a job's signature covers: every field but the signature, as compact JSON with
// its keys in byte order.
std::string CanonicalJobBytes(const std::string& document);

}  // namespace quorvale
