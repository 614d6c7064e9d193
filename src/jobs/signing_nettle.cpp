// SPDX-License-Identifier: Apache-2.0
#include <nettle/bignum.h>
#include <nettle/ecc-curve.h>
#include <nettle/ecc.h>
#include <nettle/ecdsa.h>
#include <sys/random.h>

#include <cerrno>

#include "jobs/signing.h"

namespace quorvale {
namespace {

const ecc_curve* Curve() {
    return nettle_get_secp_256r1();
}

// The kernel's random bytes; getrandom waits only until the pool has been seeded once.
void RandomBytes(void*, std::size_t length, std::uint8_t* into) {
    while (length > 0) {
        const ssize_t got = ::getrandom(into, length, 0);
        if (got > 0) {
            into += got;
            length -= static_cast<std::size_t>(got);
        }
    }
}

// GMP's integers, cleared when they go.
class Integer {
public:
    Integer() { mpz_init(m_value); }
    ~Integer() { mpz_clear(m_value); }
    Integer(const Integer&) = delete;
    Integer& operator=(const Integer&) = delete;
    mpz_t& get() { return m_value; }

    template <std::size_t N>
    void Load(const std::uint8_t* bytes) {
        nettle_mpz_set_str_256_u(m_value, N, bytes);
    }
    template <std::size_t N>
    void Store(std::uint8_t* bytes) {
        nettle_mpz_get_str_256(N, bytes, m_value);
    }

private:
    mpz_t m_value;
};

class Point {
public:
    Point() { ecc_point_init(&m_point, Curve()); }
    ~Point() { ecc_point_clear(&m_point); }
    Point(const Point&) = delete;
    Point& operator=(const Point&) = delete;
    ecc_point* get() { return &m_point; }

    bool Load(const PublicKey& key) {
        if (key[0] != 0x04) {
            return false;
        }
        Integer x;
        Integer y;
        x.Load<32>(key.data() + 1);
        y.Load<32>(key.data() + 33);
        return ecc_point_set(&m_point, x.get(), y.get()) == 1;
    }
    PublicKey Store() {
        Integer x;
        Integer y;
        ecc_point_get(&m_point, x.get(), y.get());
        PublicKey key{};
        key[0] = 0x04;
        x.Store<32>(key.data() + 1);
        y.Store<32>(key.data() + 33);
        return key;
    }

private:
    ecc_point m_point;
};

class Scalar {
public:
    Scalar() { ecc_scalar_init(&m_scalar, Curve()); }
    ~Scalar() { ecc_scalar_clear(&m_scalar); }
    Scalar(const Scalar&) = delete;
    Scalar& operator=(const Scalar&) = delete;
    ecc_scalar* get() { return &m_scalar; }

    bool Load(const SecretKey& secret) {
        Integer z;
        z.Load<32>(secret.data());
        return ecc_scalar_set(&m_scalar, z.get()) == 1;
    }
    SecretKey Store() {
        Integer z;
        ecc_scalar_get(&m_scalar, z.get());
        SecretKey secret{};
        z.Store<32>(secret.data());
        return secret;
    }

private:
    ecc_scalar m_scalar;
};

class DsaSignature {
public:
    DsaSignature() { dsa_signature_init(&m_signature); }
    ~DsaSignature() { dsa_signature_clear(&m_signature); }
    DsaSignature(const DsaSignature&) = delete;
    DsaSignature& operator=(const DsaSignature&) = delete;
    dsa_signature* get() { return &m_signature; }

private:
    dsa_signature m_signature;
};

Refusal Malformed(std::string words) {
    return Refused({ErrorKind::Malformed, 0, std::move(words)});
}

}  // namespace

Result<KeyPair> GenerateKeyPair() {
    Point point;
    Scalar scalar;
    ecdsa_generate_keypair(point.get(), scalar.get(), nullptr, RandomBytes);
    return KeyPair{scalar.Store(), point.Store()};
}

Result<Signature> SignDigest(const KeyPair& key, const Sha256Digest& digest) {
    Scalar scalar;
    if (!scalar.Load(key.secret)) {
        return Malformed("the private key is not one of the curve P-256");
    }
    DsaSignature signature;
    ecdsa_sign(scalar.get(), nullptr, RandomBytes, digest.size(), digest.data(), signature.get());
    Signature bytes{};
    nettle_mpz_get_str_256(32, bytes.data(), signature.get()->r);
    nettle_mpz_get_str_256(32, bytes.data() + 32, signature.get()->s);
    return bytes;
}

bool VerifyDigest(const PublicKey& key, const Sha256Digest& digest, const Signature& signature) {
    Point point;
    if (!point.Load(key)) {
        return false;
    }
    DsaSignature parts;
    nettle_mpz_set_str_256_u(parts.get()->r, 32, signature.data());
    nettle_mpz_set_str_256_u(parts.get()->s, 32, signature.data() + 32);
    return ecdsa_verify(point.get(), digest.size(), digest.data(), parts.get()) == 1;
}

}  // namespace quorvale
