// SPDX-License-Identifier: Apache-2.0
#include <nettle/sha2.h>

#include "files/digest.h"

namespace quorvale {

std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, bytes.size(), bytes.data());
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&context, sizeof digest, digest);
    return HexDigits(digest);
}

}  // namespace quorvale
