// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "files/digest.h"
#include "files/error.h"

// ECDSA on the curve P-256 with SHA-256, by a cryptography library of the system's (Nettle on
// Linux, BCrypt on Windows). Keys and signatures travel as plain bytes, the same on both.
namespace quorvale {

// The public key as an uncompressed point: 0x04, then X and Y, 32 bytes each, big-endian.
using PublicKey = std::array<std::uint8_t, 65>;
// The private scalar, 32 bytes big-endian.
using SecretKey = std::array<std::uint8_t, 32>;
// r then s, 32 bytes each, big-endian.
using Signature = std::array<std::uint8_t, 64>;

struct KeyPair {
    SecretKey secret{};
    PublicKey publicKey{};
};

Result<KeyPair> GenerateKeyPair();
Result<Signature> SignDigest(const KeyPair& key, const Sha256Digest& digest);
// Whether `signature` is `key`'s over `digest`. A key that is no point of the curve verifies
// nothing.
bool VerifyDigest(const PublicKey& key, const Sha256Digest& digest, const Signature& signature);

}  // namespace quorvale
