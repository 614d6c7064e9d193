// SPDX-License-Identifier: Apache-2.0
// Keys and signed jobs: making a key pair, making a job from a firmware file, and showing what
// a job holds and whether it is trusted.
#include <cstdio>
#include <filesystem>

#include "cli/commands.h"
#include "files/regular_file.h"
#include "jobs/job.h"
#include "jobs/keys.h"
#include "production/timestamp.h"

namespace quorvale::cli {
namespace {

int Refuse(const char* command, const std::string& words) {
    std::fprintf(stderr, "quorvale %s: %s\n", command, words.c_str());
    return ExitUsage;
}

// A job's text as a terminal may print it: before any check, it is anybody's, and a control
// character could move the cursor or clear the screen.
std::string Printable(const Json& value) {
    std::string text = value.get<std::string>();
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    return text;
}

std::span<const std::uint8_t> Bytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The trust a job is shown against: on a locked station the locking keys, whatever is given;
// else those given.
Result<std::vector<TrustedKey>> TrustFor(const std::vector<std::string>& given) {
    const auto lock = ReadStationLock();
    if (!lock) {
        return Refused(lock.error());
    }
    if (lock->locked) {
        if (!given.empty()) {
            std::printf("Trust: the locked station's keys in %s, not --trust\n",
                        lock->folder.c_str());
        }
        return lock->keys;
    }
    return ReadTrustedKeys(given);
}

}  // namespace

int RunKeyNew(const KeyNewOptions& options) {
    if (const Status made = MakeKeyFiles(options.keyFile, options.comment); !made) {
        return Refuse("key new", made.error().Words());
    }
    const auto key = ReadPrivateKeyFile(options.keyFile);
    std::printf("Private key: %s (keep it to yourself)\nPublic key: %s.pub (key id %s)\n",
                options.keyFile.c_str(), options.keyFile.c_str(),
                key ? KeyId(key->publicKey).c_str() : "?");
    return ExitSuccess;
}

int RunJobMake(const JobMakeOptions& options) {
    const auto key = ReadPrivateKeyFile(options.keyFile);
    if (!key) {
        return Refuse("job make", key.error().Words());
    }
    const std::string name =
        options.name.value_or(std::filesystem::path(options.firmware).stem().string());
    const auto job = MakeJob(
        {options.firmware, name, options.line, UtcTimestamp(std::chrono::system_clock::now())},
        *key);
    if (!job) {
        std::fprintf(stderr, "%s\n", job.error().Words().c_str());
        return ExitUsage;
    }
    if (const Status written = WriteFileAtomically(options.jobFile, Bytes(*job)); !written) {
        std::fprintf(stderr, "quorvale job make: %s\n", written.error().Words().c_str());
        return ExitFailure;
    }
    std::printf("Job '%s' signed by key %s: %s\n", name.c_str(), KeyId(key->publicKey).c_str(),
                options.jobFile.c_str());
    return ExitSuccess;
}

int RunJobShow(const JobShowOptions& options) {
    const auto bytes = ReadSmallFile(options.jobFile, 256 * 1024);
    if (!bytes) {
        return Refuse("job show", bytes.error().Words());
    }
    const auto read = ReadJobDocument(*bytes);
    if (const auto* refusal = std::get_if<JobRefusal>(&read)) {
        return Refuse("job show", std::string("refused by its ") + JobCheckName(refusal->check) +
                                      " check: " + refusal->words);
    }
    const Json& job = std::get<Json>(read);
    const Json& firmware = job["firmware"];
    const Json& line = job["line"];
    std::printf("Name: %s\nMade: %s\nFirmware: %s\nSHA-256: %s\n", Printable(job["name"]).c_str(),
                Printable(job["made"]).c_str(), Printable(firmware["file"]).c_str(),
                Printable(firmware["sha256"]).c_str());
    std::printf("Hardware: %u\nVersion: %u\nStart: 0x%04x\nLength: %u\nBootloader baud: %u\n",
                firmware["hardware_code"].get<unsigned>(), firmware["version"].get<unsigned>(),
                firmware["start"].get<unsigned>(), firmware["length"].get<unsigned>(),
                firmware["bootloader_baud"].get<unsigned>());
    std::printf("Line: %u baud, %u data bits, parity %s, %s stop bits\nSigned by: %s\n",
                line["baud"].get<unsigned>(), line["data_bits"].get<unsigned>(),
                Printable(line["parity"]).c_str(), Printable(line["stop_bits"]).c_str(),
                Printable(job["key_id"]).c_str());
    const auto trusted = TrustFor(options.trust);
    if (!trusted) {
        return Refuse("job show", trusted.error().Words());
    }
    if (trusted->empty()) {
        std::printf("Signature: not checked (no trusted key: give --trust PUBFILE)\n");
        return ExitSuccess;
    }
    const auto opened = OpenJob(*bytes, *trusted);
    if (const auto* refusal = std::get_if<JobRefusal>(&opened)) {
        std::printf("Signature: refused by its %s check: %s\n", JobCheckName(refusal->check),
                    refusal->words.c_str());
        return ExitUsage;
    }
    std::printf("Signature: verified, by a trusted key\n");
    return ExitSuccess;
}

}  // namespace quorvale::cli
