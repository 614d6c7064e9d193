// SPDX-License-Identifier: Apache-2.0
#include "files/bcrypt_algorithm_win32.h"
#include "files/digest.h"

namespace quorvale {
namespace {

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
    const BcryptAlgorithm algorithm(BCRYPT_SHA256_ALGORITHM);
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
