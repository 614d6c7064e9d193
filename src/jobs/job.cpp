// SPDX-License-Identifier: Apache-2.0
#include "jobs/job.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <memory>
#include <string_view>

#include "download/texts.h"
#include "files/digest.h"
#include "image/firmware_image.h"
#include "jobs/base64.h"
#include "settings/line_options.h"

namespace quorvale {
namespace {

using Document = nlohmann::json;

constexpr std::array<const char*, 5> kHeaderNames = {"hardware_code", "version", "start", "length",
                                                     "bootloader_baud"};
constexpr std::array<const char*, 7> kCheckNames = {"document",  "format", "fields",  "key",
                                                    "signature", "digest", "firmware"};

JobRefusal Refuse(JobCheck check, std::string words) {
    return {check, std::move(words)};
}

bool IsHex(const Document& value, std::size_t digits) {
    if (!value.is_string()) {
        return false;
    }
    const auto& text = value.get_ref<const std::string&>();
    return text.size() == digits && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

bool IsCount(const Document& value) {
    return value.is_number_unsigned();
}

Json LineFields(const LineSettings& line) {
    return {{"baud", line.baudRate},
            {"data_bits", line.dataBits},
            {"parity", ItemText(SettingLists::Parities, line.parity)},
            {"stop_bits", ItemText(SettingLists::StopBitsChoices, line.stopBits)}};
}

// The line settings the job names, when each is one the options would take.
std::optional<LineSettings> LineFrom(const Document& line) {
    if (!line.is_object() || !IsCount(line.value("baud", Document())) ||
        !IsCount(line.value("data_bits", Document())) ||
        !line.value("parity", Document()).is_string() ||
        !line.value("stop_bits", Document()).is_string()) {
        return std::nullopt;
    }
    const auto baud = line["baud"].get<std::uint64_t>();
    const auto dataBits =
        ItemCode(SettingLists::DataBits, std::to_string(line["data_bits"].get<std::uint64_t>()));
    const auto parity = ItemCode(SettingLists::Parities, line["parity"].get<std::string>());
    const auto stopBits =
        ItemCode(SettingLists::StopBitsChoices, line["stop_bits"].get<std::string>());
    if (baud == 0 || baud > 0xFFFFFFFFu || !dataBits || !parity || !stopBits) {
        return std::nullopt;
    }
    return LineSettings{static_cast<std::uint32_t>(baud), *dataBits, *parity, *stopBits};
}

// The firmware's header as the job states it, to be compared with the firmware itself.
Json HeaderFields(const FirmwareImage& image) {
    return {{"hardware_code", image.GetHardwareCode()},
            {"version", image.GetVersion()},
            {"start", image.GetStartAddress()},
            {"length", image.GetLength()},
            {"bootloader_baud", image.GetBaudRate()}};
}

std::optional<Sha256Digest> DigestOf(const std::string& canonical) {
    return Sha256({reinterpret_cast<const std::uint8_t*>(canonical.data()), canonical.size()});
}

// Whether `text` is UTF-8, which a job's JSON must be: a name in another encoding (an ANSI
// command line on Windows) would make no document.
bool IsUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80           ? 1
                                   : (lead >> 5) == 0x6  ? 2
                                   : (lead >> 4) == 0xE  ? 3
                                   : (lead >> 3) == 0x1E ? 4
                                                         : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 0x2) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

std::optional<JobRefusal> CheckFields(const Document& job) {
    const Document& firmware = job.value("firmware", Document());
    const bool ok =
        job.value("name", Document()).is_string() && job.value("made", Document()).is_string() &&
        firmware.is_object() && firmware.value("file", Document()).is_string() &&
        IsHex(firmware.value("sha256", Document()), 64) &&
        firmware.value("bytes", Document()).is_string() &&
        std::all_of(kHeaderNames.begin(), kHeaderNames.end(),
                    [&](const char* name) { return IsCount(firmware.value(name, Document())); }) &&
        LineFrom(job.value("line", Document())) && IsHex(job.value("key_id", Document()), 16) &&
        job.value("signature", Document()).is_string();
    if (!ok) {
        return Refuse(JobCheck::Fields, "a field is missing or not of its kind");
    }
    return std::nullopt;
}

}  // namespace

const char* JobCheckName(JobCheck check) {
    return kCheckNames[static_cast<std::size_t>(check)];
}

std::string CanonicalJobBytes(const std::string& document) {
    Document job = Document::parse(document);
    job.erase("signature");
    return job.dump();
}

Result<std::string> MakeJob(const JobRequest& request, const KeyPair& key) {
    const auto image = std::make_unique<FirmwareImage>();
    if (const LoadResult loaded = image->Load(request.firmwarePath); loaded != LoadOk) {
        return Refused(
            {ErrorKind::Malformed, 0, LoadResultMessageWithHint(loaded, request.firmwarePath)});
    }
    const std::string fileName = std::filesystem::path(request.firmwarePath).filename().string();
    if (!IsUtf8(request.name) || !IsUtf8(fileName)) {
        return Refused({ErrorKind::Malformed, 0,
                        "the job's name and the firmware file's name must be UTF-8 text"});
    }
    const auto bytes = image->GetFileBytes();
    Json firmware = {{"file", fileName}, {"sha256", Sha256Hex(bytes)}};
    firmware.update(HeaderFields(*image));
    firmware["bytes"] = Base64(bytes);
    Json job = {{"format", kJobFormat},          {"version", kJobVersion},
                {"name", request.name},          {"made", request.madeAt},
                {"firmware", firmware},          {"line", LineFields(request.line)},
                {"key_id", KeyId(key.publicKey)}};
    const auto digest = DigestOf(CanonicalJobBytes(job.dump()));
    if (!digest) {
        return Refused({ErrorKind::Other, 0, "cannot compute SHA-256"});
    }
    const auto signature = SignDigest(key, *digest);
    if (!signature) {
        return Refused(signature.error());
    }
    job["signature"] = Base64(*signature);
    return job.dump(2) + "\n";
}

std::variant<Json, JobRefusal> ReadJobDocument(std::span<const std::uint8_t> file) {
    Json job = Json::parse(file.begin(), file.end(), nullptr, false);
    if (job.is_discarded() || !job.is_object()) {
        return Refuse(JobCheck::Document, "not a JSON document");
    }
    if (job.value("format", Json()) != kJobFormat || job.value("version", Json()) != kJobVersion) {
        return Refuse(JobCheck::Format, "not a job of format '" + std::string(kJobFormat) +
                                            "' version " + std::to_string(kJobVersion));
    }
    if (const auto refusal = CheckFields(Document(job))) {
        return *refusal;
    }
    return job;
}

std::variant<Job, JobRefusal> OpenJob(std::span<const std::uint8_t> file,
                                      const std::vector<TrustedKey>& trusted) {
    auto read = ReadJobDocument(file);
    if (auto* refusal = std::get_if<JobRefusal>(&read)) {
        return *refusal;
    }
    const Document job = Document(std::get<Json>(read));
    const Document& firmware = job["firmware"];
    const auto bytes = FromBase64(firmware["bytes"].get<std::string>());
    if (!bytes || Sha256Hex(*bytes) != firmware["sha256"].get<std::string>()) {
        return Refuse(JobCheck::Digest, "the firmware it carries does not match its SHA-256");
    }
    const std::string keyId = job["key_id"].get<std::string>();
    const auto key = std::find_if(trusted.begin(), trusted.end(),
                                  [&](const TrustedKey& k) { return k.id == keyId; });
    if (key == trusted.end()) {
        return Refuse(JobCheck::Key,
                      trusted.empty() ? "no key is trusted: give --trust PUBFILE"
                                      : "it is signed by key " + keyId + ", which is not trusted");
    }
    const auto signature = FromBase64(job["signature"].get<std::string>());
    const auto digest = DigestOf(CanonicalJobBytes(job.dump()));
    Signature fixed{};
    if (signature && signature->size() == fixed.size()) {
        std::copy(signature->begin(), signature->end(), fixed.begin());
    }
    if (!signature || signature->size() != fixed.size() || !digest ||
        !VerifyDigest(key->key, *digest, fixed)) {
        return Refuse(JobCheck::Signature,
                      "its signature does not verify: it was changed after it was signed");
    }
    const auto image = std::make_unique<FirmwareImage>();
    const std::string name = firmware["file"].get<std::string>();
    if (const LoadResult loaded = image->LoadBytes(*bytes); loaded != LoadOk) {
        return Refuse(JobCheck::Firmware, LoadResultMessage(loaded, name));
    }
    const Json header = HeaderFields(*image);
    for (const auto& [field, value] : header.items()) {
        if (firmware[field] != value) {
            return Refuse(JobCheck::Firmware, "its " + field + " is not the firmware's");
        }
    }
    Job opened;
    opened.name = job["name"].get<std::string>();
    opened.firmwareFile = name;
    opened.firmwareSha256 = firmware["sha256"].get<std::string>();
    opened.firmware = *bytes;
    opened.line = *LineFrom(job["line"]);
    opened.madeAt = job["made"].get<std::string>();
    opened.keyId = keyId;
    opened.jobSha256 = Sha256Hex(file);
    return opened;
}

}  // namespace quorvale
