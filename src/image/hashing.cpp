#include "image/hashing.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "hex/hex.h"
#include "image/validation.h"
#include "runtime/thread.h"

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

namespace {

// Chunks read ahead of the hashing: a reader thread fills them while the
// calling thread hashes the ones before, so the check runs at the speed of
// the slower of the two instead of the sum of both. Three buffers let the
// reader start the next read while one chunk is hashed and another waits.
class ReadAhead {
  public:
    static constexpr size_t kBuffers = 3;

    ReadAhead(const ImageReader& image, uint64_t total, const std::atomic<bool>& cancel)
        : image_(image), total_(total), cancel_(cancel) {
        for (auto& b : buffers_)
            b.resize(kContentChunkBytes);
        for (size_t i = 0; i < kBuffers; ++i)
            free_.push_back(i);
        reader_ = spawn_thread([this] {
            try {
                read_all();
            } catch (...) {
                end_reading("the image reader ended abnormally");
            }
        });
    }
    ~ReadAhead() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        cv_.notify_all();
        if (reader_.joinable()) reader_.join();
    }
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    struct Chunk {
        size_t index;
        std::span<const uint8_t> bytes;
    };
    // The next chunk in order; nullopt once the image is read or the reader
    // failed (then error() says why).
    std::optional<Chunk> next() {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [&] { return !filled_.empty() || finished_; });
        if (filled_.empty()) return std::nullopt;
        auto [index, n] = filled_.front();
        filled_.pop_front();
        return Chunk{index, std::span<const uint8_t>(buffers_[index].data(), n)};
    }
    void give_back(size_t index) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            free_.push_back(index);
        }
        cv_.notify_all();
    }
    std::optional<std::string> error() {
        std::lock_guard<std::mutex> lock(mutex_);
        return error_;
    }

  private:
    void read_all() {
        for (uint64_t done = 0; done < total_;) {
            size_t index;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                cv_.wait(lock, [&] { return !free_.empty() || stopping_; });
                if (stopping_ || cancel_.load(std::memory_order_relaxed)) break;
                index = free_.front();
                free_.pop_front();
            }
            size_t n = static_cast<size_t>(std::min<uint64_t>(kContentChunkBytes, total_ - done));
            std::span<uint8_t> chunk(buffers_[index].data(), n);
            if (auto r = image_.read_at(done, chunk); !r) {
                end_reading(r.error().text);
                return;
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                filled_.emplace_back(index, n);
            }
            cv_.notify_all();
            done += n;
        }
        end_reading(std::nullopt);
    }
    void end_reading(std::optional<std::string> error) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!finished_) error_ = std::move(error);
            finished_ = true;
        }
        cv_.notify_all();
    }

    const ImageReader& image_;
    uint64_t total_;
    const std::atomic<bool>& cancel_;
    std::array<std::vector<uint8_t>, kBuffers> buffers_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<size_t> free_;
    std::deque<std::pair<size_t, size_t>> filled_;  // (buffer, length), in image order
    bool finished_ = false;
    bool stopping_ = false;
    std::optional<std::string> error_;
    std::thread reader_;  // last: it starts once everything above exists
};

}  // namespace

Result<void, ValidationError> verify_image_content(const ImageReader& image,
                                                   const ImageInspection& inspection,
                                                   const std::atomic<bool>& cancel,
                                                   const ContentProgress& progress) {
    if (!inspection.manifest) return {};
    ImageHasher hasher(inspection.capture_region());
    const uint64_t total = inspection.image_size;
    uint64_t done = 0;
    if (cancel.load(std::memory_order_relaxed))
        return unexpected(ValidationError::of(ValidationError::Kind::Cancelled));
    {
        ReadAhead chunks(image, total, cancel);
        while (done < total) {
            if (cancel.load(std::memory_order_relaxed))
                return unexpected(ValidationError::of(ValidationError::Kind::Cancelled));
            auto chunk = chunks.next();
            if (!chunk) break;
            hasher.update(chunk->bytes);
            done += chunk->bytes.size();
            chunks.give_back(chunk->index);
            if (progress) progress(done, total);
        }
        if (auto error = chunks.error()) return unexpected(ValidationError::io(*error));
    }
    if (done != total && cancel.load(std::memory_order_relaxed))
        return unexpected(ValidationError::of(ValidationError::Kind::Cancelled));
    if (done != total) return unexpected(ValidationError::io("image shorter than expected"));
    HashResult result = std::move(hasher).finish();
    if (hex_encode(result.digest) != inspection.manifest->sha256) {
        return unexpected(ValidationError::of(ValidationError::Kind::Corrupted));
    }
    return {};
}

}  // namespace sw
