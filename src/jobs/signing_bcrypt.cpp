// SPDX-License-Identifier: Apache-2.0
#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "files/bcrypt_algorithm_win32.h"
#include "jobs/signing.h"

namespace quorvale {
namespace {

constexpr ULONG kCoordinate = 32;

class Key {
public:
    Key() = default;
    ~Key() {
        if (m_handle) {
            BCryptDestroyKey(m_handle);
        }
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    BCRYPT_KEY_HANDLE* Out() { return &m_handle; }
    BCRYPT_KEY_HANDLE get() const { return m_handle; }

private:
    BCRYPT_KEY_HANDLE m_handle = nullptr;
};

Refusal Failed(NTSTATUS status, const std::string& what) {
    return Refused({ErrorKind::Other, static_cast<long>(status), what + " (status 0x" + [&] {
                        char hex[16];
                        std::snprintf(hex, sizeof hex, "%08lx", static_cast<unsigned long>(status));
                        return std::string(hex);
                    }() + ")"});
}

// BCrypt's blob: its header, then X and Y, and for a private key the scalar after them.
std::vector<std::uint8_t> Blob(ULONG magic, const PublicKey& key, const SecretKey* secret) {
    std::vector<std::uint8_t> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 2 * kCoordinate +
                                   (secret ? kCoordinate : 0));
    BCRYPT_ECCKEY_BLOB header{magic, kCoordinate};
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, key.data() + 1, 2 * kCoordinate);
    if (secret) {
        std::memcpy(blob.data() + sizeof header + 2 * kCoordinate, secret->data(), kCoordinate);
    }
    return blob;
}

}  // namespace

Result<KeyPair> GenerateKeyPair() {
    const BcryptAlgorithm provider(BCRYPT_ECDSA_P256_ALGORITHM);
    if (!provider.get()) {
        return Failed(0, "ECDSA P-256 is not available");
    }
    Key key;
    NTSTATUS status = BCryptGenerateKeyPair(provider.get(), key.Out(), 256, 0);
    if (status >= 0) {
        status = BCryptFinalizeKeyPair(key.get(), 0);
    }
    std::vector<std::uint8_t> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 3 * kCoordinate);
    ULONG size = 0;
    if (status >= 0) {
        status = BCryptExportKey(key.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob.data(),
                                 static_cast<ULONG>(blob.size()), &size, 0);
    }
    if (status < 0 || size != blob.size()) {
        return Failed(status, "cannot make a key pair");
    }
    KeyPair pair;
    pair.publicKey[0] = 0x04;
    const std::uint8_t* body = blob.data() + sizeof(BCRYPT_ECCKEY_BLOB);
    std::copy(body, body + 2 * kCoordinate, pair.publicKey.begin() + 1);
    std::copy(body + 2 * kCoordinate, body + 3 * kCoordinate, pair.secret.begin());
    return pair;
}

Result<Signature> SignDigest(const KeyPair& pair, const Sha256Digest& digest) {
    const BcryptAlgorithm provider(BCRYPT_ECDSA_P256_ALGORITHM);
    Key key;
    std::vector<std::uint8_t> blob =
        Blob(BCRYPT_ECDSA_PRIVATE_P256_MAGIC, pair.publicKey, &pair.secret);
    NTSTATUS status =
        provider.get()
            ? BCryptImportKeyPair(provider.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, key.Out(),
                                  blob.data(), static_cast<ULONG>(blob.size()), 0)
            : -1;
    Signature signature{};
    ULONG size = 0;
    if (status >= 0) {
        status = BCryptSignHash(key.get(), nullptr, const_cast<std::uint8_t*>(digest.data()),
                                static_cast<ULONG>(digest.size()), signature.data(),
                                static_cast<ULONG>(signature.size()), &size, 0);
    }
    if (status < 0 || size != signature.size()) {
        return Failed(status, "cannot sign with the private key");
    }
    return signature;
}

bool VerifyDigest(const PublicKey& publicKey, const Sha256Digest& digest,
                  const Signature& signature) {
    if (publicKey[0] != 0x04) {
        return false;
    }
    const BcryptAlgorithm provider(BCRYPT_ECDSA_P256_ALGORITHM);
    Key key;
    std::vector<std::uint8_t> blob = Blob(BCRYPT_ECDSA_PUBLIC_P256_MAGIC, publicKey, nullptr);
    return provider.get() &&
           BCryptImportKeyPair(provider.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.Out(),
                               blob.data(), static_cast<ULONG>(blob.size()), 0) >= 0 &&
           BCryptVerifySignature(key.get(), nullptr, const_cast<std::uint8_t*>(digest.data()),
                                 static_cast<ULONG>(digest.size()),
                                 const_cast<std::uint8_t*>(signature.data()),
                                 static_cast<ULONG>(signature.size()), 0) >= 0;
}

}  // namespace quorvale
