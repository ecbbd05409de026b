// What the download takes from the image module: the signed manifest with its
// rules, the signature check, and the streaming hasher that hashes the
// signature block's bytes as zeros, so that a download's digest compares with
// the manifest's sha256.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "http/interim/media_interim.h"

namespace sw {

using Sha256Digest = std::array<uint8_t, 32>;

class DownloadHasher {
  public:
    // With a manifest, its signature block region is hashed as zeros.
    explicit DownloadHasher(const MediaManifest* manifest);
    void update(std::span<const uint8_t> bytes);
    Sha256Digest finish() &&;

  private:
    ImageHasher hasher_;
};

}  // namespace sw
