#include "http/media.h"

namespace sw {

namespace {

std::optional<CaptureRegion> region_of(const MediaManifest* manifest) {
    if (manifest == nullptr) return std::nullopt;
    return CaptureRegion{manifest->sums_offset, manifest->sums_len};
}

}  // namespace

DownloadHasher::DownloadHasher(const MediaManifest* manifest) : hasher_(region_of(manifest)) {}

}  // namespace sw
