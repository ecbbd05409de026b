// Stand-in for the image module's signed manifest, signature check and
// hasher, built to the same rules, until that module is merged; then this
// directory goes and http/media.cpp adapts to the real headers.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/result.h"

namespace sw {

struct MediaManifest {
    std::string product;
    std::string version;
    std::string build;
    std::string architecture;
    std::string channel;
    std::string created;
    uint64_t size = 0;
    std::string sha256;  // 64 lower-case hexadecimal digits
    uint64_t sums_offset = 0;
    uint64_t sums_len = 0;
};

Result<MediaManifest, std::string> parse_media_manifest(std::string_view text);

bool verify_manifest_signature(std::string_view manifest_line, std::span<const uint8_t> signature);

struct HashResult {
    std::array<uint8_t, 32> digest{};
    std::vector<uint8_t> captured_bytes;
};

class ImageHasher {
  public:
    explicit ImageHasher(std::optional<std::pair<uint64_t, uint64_t>> capture_region);
    ~ImageHasher();
    ImageHasher(ImageHasher&& other) noexcept;
    ImageHasher& operator=(ImageHasher&&) = delete;

    void update(std::span<const uint8_t> bytes);
    HashResult finish() &&;

  private:
    void* md_;  // gcry_md_hd_t
    std::optional<std::pair<uint64_t, uint64_t>> region_;
    uint64_t position_ = 0;
    std::vector<uint8_t> captured_;
};

}  // namespace sw
