// A served "image" with a signed manifest and its release descriptor, made
// with the development signing key, for the download tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sw::test {

// SHA-256 of the bytes, as 64 lower-case hex digits.
std::string sha256_hex(std::string_view bytes);

// The 128-digit Ed25519 signature of a manifest line, made with the
// development release-signing key over the magic line, a line feed and the line.
std::string sign_manifest_hex(std::string_view manifest_line);

struct TestRelease {
    std::string image;          // the bytes to serve
    std::string manifest_line;  // signed
    std::string signature_hex;
    std::string sha256;  // of the image with the signature block as zeros

    // {"media_manifest": ..., "signature": ..., "url": ...} as the service publishes it.
    std::string descriptor(const std::optional<std::string>& url = std::nullopt) const;
};

// Pseudo-random content of `size` bytes with a 4096-byte block of text at
// `sums_offset`, and a manifest naming that size, hash and block.
TestRelease make_test_release(uint64_t size, std::string_view version = "24.10",
                              uint64_t sums_offset = 32768, uint32_t seed = 1);

// A JSON string literal for `text` (quotes and backslashes escaped).
std::string json_quote(std::string_view text);

}  // namespace sw::test
