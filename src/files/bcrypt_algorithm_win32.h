// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

namespace quorvale {

// One of BCrypt's algorithm providers, closed when it goes; get() is null when it could not be
// opened.
class BcryptAlgorithm {
public:
    explicit BcryptAlgorithm(LPCWSTR algorithm) {
        BCryptOpenAlgorithmProvider(&m_handle, algorithm, nullptr, 0);
    }
    ~BcryptAlgorithm() {
        if (m_handle) {
            BCryptCloseAlgorithmProvider(m_handle, 0);
        }
    }
    BcryptAlgorithm(const BcryptAlgorithm&) = delete;
    BcryptAlgorithm& operator=(const BcryptAlgorithm&) = delete;
    BCRYPT_ALG_HANDLE get() const { return m_handle; }

private:
    BCRYPT_ALG_HANDLE m_handle = nullptr;
};

}  // namespace quorvale
