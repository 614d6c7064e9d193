// SPDX-License-Identifier: Apache-2.0
#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include "files/digest.h"

namespace quorvale {
namespace {

class Algorithm {
public:
    Algorithm() { BCryptOpenAlgorithmProvider(&m_handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0); }
    ~Algorithm() {
        if (m_handle) {
            BCryptCloseAlgorithmProvider(m_handle, 0);
        }
    }
    Algorithm(const Algorithm&) = delete;
    Algorithm& operator=(const Algorithm&) = delete;
    BCRYPT_ALG_HANDLE get() const { return m_handle; }

private:
    BCRYPT_ALG_HANDLE m_handle = nullptr;
};

class Hash {
public:
    explicit Hash(BCRYPT_ALG_HANDLE algorithm) {
        BCryptCreateHash(algorithm, &m_handle, nullptr, 0, nullptr, 0, 0);
    }
    ~Hash() {
        if (m_handle) {
            BCryptDestroyHash(m_handle);
        }
    }
    Hash(const Hash&) = delete;
    Hash& operator=(const Hash&) = delete;
    BCRYPT_HASH_HANDLE get() const { return m_handle; }

private:
    BCRYPT_HASH_HANDLE m_handle = nullptr;
};

}  // namespace

std::optional<Sha256Digest> Sha256(std::span<const std::uint8_t> bytes) {
    const Algorithm algorithm;
    if (!algorithm.get()) {
        return std::nullopt;
    }
    const Hash hash(algorithm.get());
    Sha256Digest digest;
    if (!hash.get() ||
        BCryptHashData(hash.get(), const_cast<std::uint8_t*>(bytes.data()),
                       static_cast<ULONG>(bytes.size()), 0) < 0 ||
        BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0) < 0) {
        return std::nullopt;
    }
    return digest;
}

}  // namespace quorvale
