#include "image/hashing.h"

#include <algorithm>
#include <array>

#include "hex/hex.h"
#include "image/validation.h"

namespace sw {

namespace {
constexpr std::array<uint8_t, 4096> kZeros{};
}

ImageHasher::ImageHasher(std::unique_ptr<Sha256Engine> engine, bool system,
                         std::optional<CaptureRegion> capture)
    : engine_(std::move(engine)), system_(system), capture_(capture) {}

ImageHasher::ImageHasher(std::optional<CaptureRegion> capture) : capture_(capture) {
    engine_ = make_system_sha256();
    system_ = engine_ != nullptr;
    if (!engine_) engine_ = make_in_process_sha256();
}

ImageHasher ImageHasher::in_process(std::optional<CaptureRegion> capture) {
    return ImageHasher(make_in_process_sha256(), false, capture);
}

void ImageHasher::update(std::span<const uint8_t> bytes) {
    const uint64_t p = position_;
    const uint64_t n = bytes.size();
    position_ = p + n;
    if (!capture_ || capture_->length == 0) {
        engine_->update(bytes);
        return;
    }
    const uint64_t start = capture_->offset;
    // The region's end, saturated: a region reaching past 2^64 ends there.
    const uint64_t end =
        capture_->length > UINT64_MAX - start ? UINT64_MAX : start + capture_->length;
    if (p + n <= start || p >= end) {
        engine_->update(bytes);
        return;
    }
    const uint64_t s = start > p ? start - p : 0;
    const uint64_t e = std::min(p + n, end) - p;
    engine_->update(bytes.subspan(0, s));
    captured_.insert(captured_.end(), bytes.begin() + static_cast<ptrdiff_t>(s),
                     bytes.begin() + static_cast<ptrdiff_t>(e));
    for (uint64_t left = e - s; left > 0;) {
        uint64_t piece = std::min<uint64_t>(left, kZeros.size());
        engine_->update(std::span(kZeros.data(), piece));
        left -= piece;
    }
    engine_->update(bytes.subspan(e));
}

HashResult ImageHasher::finish() && {
    HashResult result;
    result.digest = engine_->finish();
    engine_.reset();
    result.captured = std::move(captured_);
    return result;
}

Result<void, ValidationError> verify_image_content(const ImageReader& image,
                                                   const ImageInspection& inspection,
                                                   const std::atomic<bool>& cancel,
                                                   const ContentProgress& progress) {
    if (!inspection.manifest) return {};
    ImageHasher hasher(inspection.capture_region());
    const uint64_t total = inspection.image_size;
    std::vector<uint8_t> buffer(kContentChunkBytes);
    for (uint64_t done = 0; done < total;) {
        if (cancel.load(std::memory_order_relaxed)) {
            return unexpected(ValidationError::of(ValidationError::Kind::Cancelled));
        }
        size_t n = static_cast<size_t>(std::min<uint64_t>(kContentChunkBytes, total - done));
        std::span<uint8_t> chunk(buffer.data(), n);
        if (auto r = image.read_at(done, chunk); !r) {
            return unexpected(ValidationError::io(r.error().text));
        }
        hasher.update(chunk);
        done += n;
        if (progress) progress(done, total);
    }
    HashResult result = std::move(hasher).finish();
    if (hex_encode(result.digest) != inspection.manifest->sha256) {
        return unexpected(ValidationError::of(ValidationError::Kind::Corrupted));
    }
    return {};
}

}  // namespace sw
