// The media signature block: a 4096-byte text file "ortivex/MEDIA.SUMS"
// inside an official image, holding a one-line JSON manifest and an Ed25519
// signature over it, and the unsigned informational "ortivex/manifest.json".
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "image/crypto.h"
#include "image/image_reader.h"
#include "image/iso9660.h"
#include "image/verdict.h"

namespace sw {

inline constexpr std::string_view kMediaSignatureMagic = "ORTIVEX-MEDIA-SIGNATURE-V1";
inline constexpr uint64_t kSignatureBlockBytes = 4096;
inline constexpr uint64_t kMaxInformationalManifestBytes = 65536;

struct MediaManifest {
    std::string product;
    std::string version;
    std::string build;
    std::string architecture;
    std::string channel;
    std::string created;
    uint64_t size = 0;
    std::string sha256;  // 64 lower-case hex digits
    uint64_t sums_offset = 0;
    uint64_t sums_len = 0;

    // The 32 bytes of `sha256`.
    Sha256Digest digest() const;
    bool operator==(const MediaManifest&) const = default;
};

// The signature block as found in an image: where it lies and its bytes.
struct SignatureBlock {
    uint64_t offset = 0;
    std::vector<uint8_t> bytes;  // exactly 4096
};

// The two parts of a recognised block.
struct ParsedSignatureBlock {
    std::string manifest_line;  // exactly the bytes of line 2
    Ed25519Signature signature{};
};

// "ortivex/MEDIA.SUMS": absent (or not 4096 bytes long) means unsigned; an
// I/O error while finding or reading it is an Io verdict.
Result<std::optional<SignatureBlock>, ValidationError> read_signature_block(
    const ImageReader& image, const ImageLayout& layout);

// Absent: not a block (not UTF-8, or the first line is not the magic), so the
// image is unsigned. An error is a Malformed reason text.
Result<std::optional<ParsedSignatureBlock>, std::string> parse_signature_block(
    std::span<const uint8_t> bytes);

// The signed message: the magic, one line feed, the manifest line.
std::string signed_message(std::string_view manifest_line);

// Ed25519 verification of the signed message against `key` (the product's
// own is media_public_key()).
bool verify_manifest_signature(const Ed25519PublicKey& key, std::string_view manifest_line,
                               const Ed25519Signature& signature);

// The manifest rules; an error is the Malformed reason text.
Result<MediaManifest, std::string> parse_media_manifest(std::string_view text);

// The version of "ortivex/manifest.json", or absent in every other case.
std::optional<std::string> read_manifest_version(const ImageReader& image,
                                                 const ImageLayout& layout);

// The built-in public key.
const Ed25519PublicKey& media_public_key();
bool media_key_is_development();

}  // namespace sw
