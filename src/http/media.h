// What the download takes from the image module: the signed manifest with its
// rules, the signature check, and the streaming hasher that hashes the
// signature block's bytes as zeros, so that a download's digest compares with
// the manifest's sha256.
#pragma once

#include <span>

#include "image/crypto.h"
#include "image/hashing.h"
#include "image/media_signature.h"

namespace sw {

class DownloadHasher {
  public:
    // With a manifest, its signature block region is hashed as zeros.
    explicit DownloadHasher(const MediaManifest* manifest);
    void update(std::span<const uint8_t> bytes) { hasher_.update(bytes); }
    Sha256Digest finish() && { return std::move(hasher_).finish().digest; }

  private:
    ImageHasher hasher_;
};

}  // namespace sw
