// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "files/error.h"
#include "jobs/signing.h"

// Signing keys as files: a private key that stays with engineering, and a public key of one
// line that stations trust.
namespace quorvale {

// The first 16 hex digits of the SHA-256 of the public key's 65 bytes.
std::string KeyId(const PublicKey& key);

// "ecdsa-p256 BASE64 COMMENT": the key's 65 bytes in base64, and the comment (may be empty).
std::string PublicKeyLine(const PublicKey& key, const std::string& comment);
Result<PublicKey> ParsePublicKey(std::string_view text);

// "ecdsa-p256-private BASE64-SECRET BASE64-PUBLIC COMMENT".
std::string PrivateKeyText(const KeyPair& key, const std::string& comment);
Result<KeyPair> ParsePrivateKey(std::string_view text);

// Makes a key pair: the private key in `path` (readable by its owner alone) and the public one
// in `path` + ".pub". Neither file may exist already (AlreadyExists).
Status MakeKeyFiles(const std::string& path, const std::string& comment);

Result<KeyPair> ReadPrivateKeyFile(const std::string& path);

// A key a station takes jobs signed by, and the file it came from.
struct TrustedKey {
    PublicKey key{};
    std::string id;
    std::string source;
};

Result<std::vector<TrustedKey>> ReadTrustedKeys(const std::vector<std::string>& files);

// /etc/quorvale/trusted-keys on Linux, %ProgramData%\Quorvale\trusted-keys on Windows: a
// folder only an administrator can write.
std::string DefaultTrustFolder();

// Whether the machine is a locked station, and by which keys: it is once that folder is there,
// whatever it holds, so that a key misnamed or unreadable locks everything rather than
// nothing.
struct StationLock {
    std::string folder;
    bool locked = false;
    std::vector<TrustedKey> keys;
};
// Refused when the folder can't be looked at, which may hide a lock.
Result<StationLock> ReadStationLock();

// The folder that decides: the system's while it is there; otherwise, for tests only, the one
// the environment variable QUORVALE_TEST_TRUSTED_KEYS names. A test can lock a machine that
// isn't, never unlock one that is.
std::string LockFolderInEffect(bool systemFolderThere, const char* testFolder,
                               const std::string& systemFolder);

}  // namespace quorvale
