// One streaming SHA-256 for every place where image bytes are hashed, with an
// optional capture region: a range of the stream (the signature block) that
// is hashed as zeros while its real bytes are handed back.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "core/result.h"
#include "image/crypto.h"
#include "image/image_reader.h"
#include "image/verdict.h"

namespace sw {

struct CaptureRegion {
    uint64_t offset = 0;
    uint64_t length = 0;
    bool operator==(const CaptureRegion&) const = default;
};

struct HashResult {
    Sha256Digest digest{};
    std::vector<uint8_t> captured;  // the real bytes of the capture region, in stream order
};

class ImageHasher {
  public:
    // The system's SHA-256 where there is one (Windows CNG), otherwise, or
    // when it cannot be created, the in-process one. The choice is silent.
    explicit ImageHasher(std::optional<CaptureRegion> capture = std::nullopt);
    // Always the in-process SHA-256 (the benchmark measures it on its own).
    static ImageHasher in_process(std::optional<CaptureRegion> capture = std::nullopt);

    ImageHasher(ImageHasher&&) noexcept = default;
    ImageHasher& operator=(ImageHasher&&) noexcept = default;

    void update(std::span<const uint8_t> bytes);
    // The digest of the stream with the capture region zeroed, and the
    // region's real bytes. The hasher is used up.
    HashResult finish() &&;

    uint64_t position() const { return position_; }
    // Whether the system's provider does the hashing.
    bool uses_system_provider() const { return system_; }

  private:
    ImageHasher(std::unique_ptr<Sha256Engine> engine, bool system,
                std::optional<CaptureRegion> capture);

    std::unique_ptr<Sha256Engine> engine_;
    bool system_ = false;
    std::optional<CaptureRegion> capture_;
    uint64_t position_ = 0;
    std::vector<uint8_t> captured_;
};

// The system's SHA-256 (Windows CNG through the SHA-256 pseudo-handle), or
// nothing where the system has none or it cannot be created. Platform adapter.
std::unique_ptr<Sha256Engine> make_system_sha256();
// Whether the system's SHA-256 provider can be used here.
inline bool system_sha256_available() {
    return make_system_sha256() != nullptr;
}

inline constexpr size_t kContentChunkBytes = 8 * 1024 * 1024;

// Called after each chunk of the content check with (bytes done, total).
using ContentProgress = std::function<void(uint64_t, uint64_t)>;

struct ImageInspection;

// The content check of a signed image: hashes the whole image (the
// signature block as zeros) in 8 MiB chunks through one buffer and compares
// the digest with the manifest's. Unsigned images pass at once. The cancel
// flag is read before every chunk.
Result<void, ValidationError> verify_image_content(const ImageReader& image,
                                                   const ImageInspection& inspection,
                                                   const std::atomic<bool>& cancel,
                                                   const ContentProgress& progress = {});

}  // namespace sw
