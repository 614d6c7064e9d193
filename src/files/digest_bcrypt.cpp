#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include "files/digest.h"

namespace quorvale {

std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
    std::uint8_t digest[32];
    const NTSTATUS status =
        BCryptHash(BCRYPT_SHA256_ALG_HANDLE, nullptr, 0, const_cast<std::uint8_t*>(bytes.data()),
                   static_cast<ULONG>(bytes.size()), digest, sizeof digest);
    if (status < 0) {
        return {};
    }
    return HexDigits(digest);
}

}  // namespace quorvale
