// The cryptography the image rules need, through libgcrypt: Ed25519 (RFC
// 8032) verification, signing and key generation, and the in-process SHA-256.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace sw {

using Ed25519PublicKey = std::array<uint8_t, 32>;
using Ed25519Seed = std::array<uint8_t, 32>;  // the private key as RFC 8032 defines it
using Ed25519Signature = std::array<uint8_t, 64>;
using Sha256Digest = std::array<uint8_t, 32>;

// Initialises libgcrypt once for the whole process, whichever thread asks
// first. Every function here calls it; calling it again is cheap.
void ensure_crypto_initialised();

// Standard Ed25519 verification with one extra rule: the scalar half S of the
// signature must be below the group order L. libgcrypt 1.10 accepts S + L as
// well, which would let anyone make a second valid signature from a first.
bool ed25519_verify(const Ed25519PublicKey& key, std::span<const uint8_t> message,
                    const Ed25519Signature& signature);
// True when the little-endian scalar S is below the group order.
bool ed25519_scalar_is_canonical(std::span<const uint8_t, 32> s);

// Signing and key generation, for the vendor's media tool and for tests.
Ed25519Signature ed25519_sign(const Ed25519Seed& seed, std::span<const uint8_t> message);
Ed25519PublicKey ed25519_public_key(const Ed25519Seed& seed);
// A fresh seed from libgcrypt's strong random source.
Ed25519Seed ed25519_generate_seed();

namespace detail {
// libgcrypt's verification alone, without the scalar rule (tests show why the
// rule is needed).
bool gcrypt_ed25519_verify(const Ed25519PublicKey& key, std::span<const uint8_t> message,
                           const Ed25519Signature& signature);
}  // namespace detail

// A streaming SHA-256. Implementations: in process (libgcrypt) and, on
// Windows, the system's cryptography provider.
class Sha256Engine {
  public:
    virtual ~Sha256Engine() = default;
    virtual void update(std::span<const uint8_t> bytes) = 0;
    // The digest; the engine cannot be used afterwards.
    virtual Sha256Digest finish() = 0;
};

std::unique_ptr<Sha256Engine> make_in_process_sha256();

// One-shot SHA-256 in process.
Sha256Digest sha256_in_process(std::span<const uint8_t> bytes);

// libgcrypt's version and the hardware features it uses (to check that the
// SHA instructions are in play), e.g. "1.10.1 intel-shaext,intel-avx2,...".
std::string crypto_library_description();

}  // namespace sw
