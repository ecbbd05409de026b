// A served "image" with a signed manifest and its release descriptor, signed
// with a given key (the repository's development key in the tests), for the
// download tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "image/crypto.h"

namespace sw::test {

// SHA-256 of the bytes, as 64 lower-case hex digits.
std::string sha256_hex(std::string_view bytes);

// The 128-digit Ed25519 signature of a manifest line, made as for a media
// signature block: over the magic line, a line feed and the line.
std::string sign_manifest_hex(std::string_view manifest_line, const Ed25519Seed& seed);

// A secret key file as the media tool writes it (64 hexadecimal digits).
std::optional<Ed25519Seed> read_seed_file(const std::filesystem::path& file);

struct TestRelease {
    std::string image;          // the bytes to serve
    std::string manifest_line;  // signed
    std::string signature_hex;
    std::string sha256;  // of the image with the signature block as zeros

    // {"media_manifest": ..., "signature": ..., "url": ...} as the service publishes it.
    std::string descriptor(const std::optional<std::string>& url = std::nullopt) const;
};

// Pseudo-random content of `size` bytes with a 4096-byte block of text at
// `sums_offset`, and a signed manifest naming that size, hash and block.
TestRelease make_test_release(uint64_t size, std::string_view version, const Ed25519Seed& seed,
                              uint64_t sums_offset = 32768, uint32_t pattern = 1);

// A JSON string literal for `text` (quotes and backslashes escaped).
std::string json_quote(std::string_view text);

}  // namespace sw::test
