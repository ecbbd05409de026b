#include "http/media.h"

#include <utility>

namespace sw {

namespace {

std::optional<std::pair<uint64_t, uint64_t>> region_of(const MediaManifest* manifest) {
    if (manifest == nullptr) return std::nullopt;
    return std::pair<uint64_t, uint64_t>(manifest->sums_offset, manifest->sums_len);
}

}  // namespace

DownloadHasher::DownloadHasher(const MediaManifest* manifest) : hasher_(region_of(manifest)) {}

void DownloadHasher::update(std::span<const uint8_t> bytes) {
    hasher_.update(bytes);
}

Sha256Digest DownloadHasher::finish() && {
    return std::move(hasher_).finish().digest;
}

}  // namespace sw
