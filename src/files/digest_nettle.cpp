// SPDX-License-Identifier: Apache-2.0
#include <nettle/sha2.h>

#include "files/digest.h"

namespace quorvale {

std::optional<Sha256Digest> Sha256(std::span<const std::uint8_t> bytes) {
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, bytes.size(), bytes.data());
    Sha256Digest digest;
    sha256_digest(&context, digest.size(), digest.data());
    return digest;
}

}  // namespace quorvale
