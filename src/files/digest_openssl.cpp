#include <openssl/evp.h>

#include "files/digest.h"

namespace quorvale {

std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr) != 1) {
        return {};
    }
    return HexDigits({digest, size});
}

}  // namespace quorvale
