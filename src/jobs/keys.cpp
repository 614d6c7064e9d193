// SPDX-License-Identifier: Apache-2.0
#include "jobs/keys.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "files/regular_file.h"
#include "jobs/base64.h"

namespace quorvale {
namespace {

constexpr char kPublicTag[] = "ecdsa-p256";
constexpr char kPrivateTag[] = "ecdsa-p256-private";
constexpr std::size_t kKeyFileLimit = 4096;
constexpr std::size_t kKeyIdDigits = 16;

Refusal NotAKey(const std::string& what) {
    return Refused({ErrorKind::Malformed, 0, what});
}

// The words of the first line, split at spaces: at most `count`, the last taking the rest.
std::vector<std::string> Words(std::string_view text, std::size_t count) {
    text = text.substr(0, text.find_first_of("\r\n"));
    std::vector<std::string> words;
    while (!text.empty() && words.size() + 1 < count) {
        const std::size_t space = text.find(' ');
        words.emplace_back(text.substr(0, space));
        text = space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
    }
    if (!text.empty()) {
        words.emplace_back(text);
    }
    return words;
}

template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> Exactly(const std::string& base64) {
    const auto bytes = FromBase64(base64);
    if (!bytes || bytes->size() != N) {
        return std::nullopt;
    }
    std::array<std::uint8_t, N> fixed{};
    std::copy(bytes->begin(), bytes->end(), fixed.begin());
    return fixed;
}

std::optional<PublicKey> PointFrom(const std::string& base64) {
    const auto key = Exactly<65>(base64);
    return key && (*key)[0] == 0x04 ? key : std::nullopt;
}

Result<std::string> ReadText(const std::string& path) {
    auto bytes = ReadSmallFile(path, kKeyFileLimit);
    if (!bytes) {
        return Refused(bytes.error());
    }
    return std::string(bytes->begin(), bytes->end());
}

std::span<const std::uint8_t> Bytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

std::string KeyId(const PublicKey& key) {
    return Sha256Hex(key).substr(0, kKeyIdDigits);
}

std::string PublicKeyLine(const PublicKey& key, const std::string& comment) {
    return std::string(kPublicTag) + " " + Base64(key) + (comment.empty() ? "" : " " + comment) +
           "\n";
}

Result<PublicKey> ParsePublicKey(std::string_view text) {
    const std::vector<std::string> words = Words(text, 3);
    if (words.size() < 2 || words[0] != kPublicTag) {
        return NotAKey("not an ECDSA P-256 public key (it must begin with 'ecdsa-p256 ')");
    }
    const auto key = PointFrom(words[1]);
    if (!key) {
        return NotAKey("the public key is not 65 bytes of an uncompressed point in base64");
    }
    return *key;
}

std::string PrivateKeyText(const KeyPair& key, const std::string& comment) {
    return std::string(kPrivateTag) + " " + Base64(key.secret) + " " + Base64(key.publicKey) +
           (comment.empty() ? "" : " " + comment) + "\n";
}

Result<KeyPair> ParsePrivateKey(std::string_view text) {
    const std::vector<std::string> words = Words(text, 4);
    if (words.size() < 3 || words[0] != kPrivateTag) {
        return NotAKey("not an ECDSA P-256 private key (it must begin with 'ecdsa-p256-private ')");
    }
    const auto secret = Exactly<32>(words[1]);
    const auto point = PointFrom(words[2]);
    if (!secret || !point) {
        return NotAKey("the private key's numbers are not in base64 of the right lengths");
    }
    return KeyPair{*secret, *point};
}

Status MakeKeyFiles(const std::string& path, const std::string& comment) {
    const auto pair = GenerateKeyPair();
    if (!pair) {
        return Refused(pair.error());
    }
    if (const Status made = CreateNewFile(path, Bytes(PrivateKeyText(*pair, comment)), true);
        !made) {
        return made;
    }
    if (const Status made =
            CreateNewFile(path + ".pub", Bytes(PublicKeyLine(pair->publicKey, comment)), false);
        !made) {
        // A private key without its public half would sign what no station can check.
        std::remove(path.c_str());
        return made;
    }
    return {};
}

Result<KeyPair> ReadPrivateKeyFile(const std::string& path) {
    const auto text = ReadText(path);
    if (!text) {
        return Refused(text.error());
    }
    auto key = ParsePrivateKey(*text);
    if (!key) {
        return NotAKey("'" + path + "': " + key.error().Words());
    }
    return key;
}

Result<std::vector<TrustedKey>> ReadTrustedKeys(const std::vector<std::string>& files) {
    std::vector<TrustedKey> keys;
    for (const std::string& file : files) {
        const auto text = ReadText(file);
        if (!text) {
            return Refused(text.error());
        }
        const auto key = ParsePublicKey(*text);
        if (!key) {
            return NotAKey("'" + file + "': " + key.error().Words());
        }
        keys.push_back({*key, KeyId(*key), file});
    }
    return keys;
}

std::string LockFolderInEffect(bool systemFolderThere, const char* testFolder,
                               const std::string& systemFolder) {
    return !systemFolderThere && testFolder && *testFolder ? testFolder : systemFolder;
}

Result<StationLock> ReadStationLock() {
    namespace fs = std::filesystem;
    const std::string system = DefaultTrustFolder();
    std::error_code error;
    const bool systemThere = fs::exists(fs::status(system, error));
    const bool missing =
        error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory;
    if (error && !missing) {
        // A folder that can't be looked at may lock the station: refuse rather than unlock.
        return Refused(
            {ErrorKind::AccessDenied, error.value(),
             "cannot read the trusted keys folder '" + system + "': " + error.message()});
    }
    StationLock lock;
    lock.folder =
        LockFolderInEffect(systemThere, std::getenv("QUORVALE_TEST_TRUSTED_KEYS"), system);
    const fs::path folder(lock.folder);
    lock.locked = fs::exists(fs::status(folder, error));
    if (!lock.locked) {
        return lock;
    }
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        std::string extension = entry.path().extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (extension == ".pub") {
            files.push_back(entry.path().string());
        }
    }
    if (error) {
        return Refused(
            {ErrorKind::Other, error.value(),
             "cannot read the trusted keys folder '" + lock.folder + "': " + error.message()});
    }
    std::sort(files.begin(), files.end());
    auto keys = ReadTrustedKeys(files);
    if (!keys) {
        return Refused(keys.error());
    }
    lock.keys = std::move(*keys);
    return lock;
}

}  // namespace quorvale
