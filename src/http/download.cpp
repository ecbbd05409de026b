#include "http/download.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/paths.h"
#include "core/text.h"
#include "runtime/thread.h"
#include "hex/hex.h"
#include "http/client.h"
#include "logging/logger.h"

namespace sw {

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kWaitStep{100};

// How one attempt ended.
enum class Attempt { Complete, Cancelled, Mismatch, ResumeRefused, TooLarge, NoSpace, Error };

struct AttemptResult {
    Attempt kind;
    HttpError error{};
};

void log_mismatch(uint64_t size, uint64_t expected) {
    Logger::write(LogLevel::Error,
                  fmt("download hash/size mismatch: size={} expected={}", size, expected));
}

// Keeps the file within the free space of its disk less the reserve. The
// system is asked again whenever its last answer does not cover what comes
// next, so space that is freed meanwhile counts; an answer that cannot be
// had leaves only the disk itself as the limit.
class SpaceBudget {
  public:
    SpaceBudget(DownloadSystem& system, std::filesystem::path folder)
        : system_(system), folder_(std::move(folder)) {}

    // Whether `bytes` more may be written; logs why not.
    bool fits(uint64_t bytes) {
        if (bytes <= room_) return true;
        ask();
        if (bytes <= room_) return true;
        Logger::write(LogLevel::Error, fmt("not enough free space in {}: {} bytes free, {} needed",
                                           utf8_of(folder_), free_, bytes + kFreeSpaceReserve));
        return false;
    }
    void use(uint64_t bytes) { room_ -= std::min(bytes, room_); }

  private:
    void ask() {
        auto free = system_.free_space(folder_);
        if (!free) {
            Logger::write(LogLevel::Warn,
                          fmt("free space of {} unknown: {}", utf8_of(folder_), free.error().text));
            room_ = UINT64_MAX;
            return;
        }
        free_ = *free;
        room_ = free_ > kFreeSpaceReserve ? free_ - kFreeSpaceReserve : 0;
    }

    DownloadSystem& system_;
    std::filesystem::path folder_;
    uint64_t free_ = 0;
    uint64_t room_ = 0;  // bytes that may still be written before asking again
};

void log_too_large() {
    Logger::write(LogLevel::Error, fmt("download stopped: more than {} bytes without a signed size",
                                       kUnsignedDownloadLimit));
}

// The download's buffers and its hasher. Each piece is hashed on a helper
// thread while the following ones are received and written: SHA-256 costs
// about as much CPU as TLS and the file together, and done in line it would
// hold up the transfer. A few buffers let the hasher fall behind for a moment
// without stalling the connection; pieces are hashed once, in order. Without
// a manifest the digest has nothing to be compared with (validation hashes
// the finished file), so nothing is hashed.
class PipelinedHasher {
  public:
    static constexpr size_t kSlots = 4;

    explicit PipelinedHasher(const MediaManifest* manifest)
        : hasher_(manifest), hashing_(manifest != nullptr) {
        for (auto& slot : slots_)
            slot.resize(kDownloadBufferBytes);
        if (hashing_) thread_ = spawn_thread([this] { run(); });
    }
    ~PipelinedHasher() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        cv_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    PipelinedHasher(const PipelinedHasher&) = delete;
    PipelinedHasher& operator=(const PipelinedHasher&) = delete;

    // The buffer for the next piece, once the hasher is done with its last use.
    std::span<uint8_t> next_buffer() {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return submitted_ < kSlots || hashed_ > submitted_ - kSlots; });
        return slots_[submitted_ % kSlots];
    }
    // Hands the first `length` bytes of the buffer from next_buffer() over.
    void submit(size_t length) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            lengths_[submitted_ % kSlots] = length;
            ++submitted_;
            if (!hashing_) hashed_ = submitted_;
        }
        cv_.notify_all();
    }
    Sha256Digest finish() {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return hashed_ == submitted_; });
        return std::move(hasher_).finish();
    }

  private:
    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (true) {
            cv_.wait(lock, [this] { return hashed_ < submitted_ || stop_; });
            if (stop_) return;
            size_t slot = hashed_ % kSlots;
            size_t length = lengths_[slot];
            lock.unlock();
            hasher_.update(std::span<const uint8_t>(slots_[slot].data(), length));
            lock.lock();
            ++hashed_;
            cv_.notify_all();
        }
    }

    DownloadHasher hasher_;
    const bool hashing_;
    std::vector<uint8_t> slots_[kSlots];
    size_t lengths_[kSlots] = {};
    std::mutex mutex_;
    std::condition_variable cv_;
    uint64_t submitted_ = 0;
    uint64_t hashed_ = 0;
    bool stop_ = false;
    std::thread thread_;
};

class Downloader {
  public:
    Downloader(std::string_view url, const MediaManifest* manifest, const std::atomic<bool>& cancel,
               DownloadProgress& progress, DownloadSystem& system, PartialFile& file,
               std::filesystem::path folder)
        : url_(url),
          manifest_(manifest),
          cancel_(cancel),
          progress_(progress),
          system_(system),
          file_(file),
          space_(system, std::move(folder)),
          hasher_(manifest) {}

    DownloadOutcome run() {
        auto resumed = hash_existing_content();
        if (!resumed) return outcome_of(resumed.error());
        uint64_t n = *resumed;

        for (uint32_t k = 0;; ++k) {
            AttemptResult r = attempt(n);
            switch (r.kind) {
                case Attempt::Complete:
                    return finish();
                case Attempt::Cancelled:
                    return {DownloadOutcomeKind::Cancelled, std::nullopt, ""};
                case Attempt::Mismatch:
                    return {DownloadOutcomeKind::Mismatch, std::nullopt, ""};
                case Attempt::ResumeRefused:
                    return {DownloadOutcomeKind::ResumeRefused, std::nullopt, ""};
                case Attempt::TooLarge:
                    return {DownloadOutcomeKind::TooLarge, std::nullopt, ""};
                case Attempt::NoSpace:
                    return {DownloadOutcomeKind::NoSpace, std::nullopt, ""};
                case Attempt::Error:
                    break;
            }
            if (r.error.kind != HttpErrorKind::Network || k == kDownloadRetries)
                return outcome_of(r.error);

            uint32_t retry = k + 1;
            Logger::write(LogLevel::Warn, fmt("download interrupted ({}); retry {}/{}",
                                              r.error.message(), retry, kDownloadRetries));
            progress_.retry = retry;
            if (!wait_before_retry(retry))
                return {DownloadOutcomeKind::Cancelled, std::nullopt, ""};
            auto length = file_.length();
            if (!length) return outcome_of(HttpError::file(length.error()));
            n = *length;
        }
    }

  private:
    static DownloadOutcome outcome_of(const HttpError& e) {
        if (e.kind == HttpErrorKind::Cancelled)
            return {DownloadOutcomeKind::Cancelled, std::nullopt, ""};
        return {DownloadOutcomeKind::Failed, std::nullopt, e.message()};
    }

    // Feeds what an earlier download left in the file to the hasher; its
    // length is where this one resumes.
    Result<uint64_t, HttpError> hash_existing_content() {
        uint64_t n = 0;
        while (true) {
            if (cancel_) return unexpected(HttpError::cancelled());
            std::span<uint8_t> piece = hasher_.next_buffer();
            auto got = file_.read_at(n, piece);
            if (!got) return unexpected(HttpError::file(got.error()));
            if (*got == 0) return n;
            hasher_.submit(*got);
            n += *got;
            progress_.done = n;
        }
    }

    // Waits 2 × retry seconds in short steps; false as soon as cancelled.
    bool wait_before_retry(uint32_t retry) {
        const int steps = static_cast<int>(retry) * 2 * 1000 / static_cast<int>(kWaitStep.count());
        for (int i = 0; i < steps; ++i) {
            if (cancel_) return false;
            system_.clock().sleep_for(kWaitStep);
        }
        return !cancel_;
    }

    AttemptResult attempt(uint64_t n) {
        if (cancel_) return {Attempt::Cancelled};
        std::string header = n > 0 ? fmt("Range: bytes={}-\r\n", n) : std::string();
        auto response = http_get(url_, header, system_.http(), cancel_);
        if (!response) return {Attempt::Error, response.error()};
        HttpResponse& r = **response;

        std::optional<uint64_t> expected;
        const uint32_t status = r.status();
        if (status == 200 && n == 0) {
            expected = r.content_length();
        } else if (status == 200) {
            // The server sends the whole file again: what we have cannot be continued.
            if (auto t = file_.truncate(); !t) return {Attempt::Error, HttpError::file(t.error())};
            progress_.done = 0;
            return {Attempt::ResumeRefused};
        } else if (status == 206) {
            if (auto length = r.content_length()) expected = n + *length;
        } else if (status == 416 && n > 0) {
            return {Attempt::Complete};  // nothing left to send: the file is whole
        } else {
            return {Attempt::Error, HttpError::http_status(status)};
        }

        if (expected) {
            progress_.total = *expected;
            // A signed download of another length can only end as a mismatch;
            // saying so now spares fetching gigabytes to learn it.
            if (manifest_ != nullptr && *expected != manifest_->size) {
                log_mismatch(*expected, manifest_->size);
                return {Attempt::Mismatch};
            }
            if (manifest_ == nullptr && *expected > kUnsignedDownloadLimit) {
                log_too_large();
                return {Attempt::TooLarge};
            }
        }
        // A length known in advance must fit before any of it is fetched.
        std::optional<uint64_t> total = expected;
        if (!total && manifest_ != nullptr) total = manifest_->size;
        if (total && *total > n && !space_.fits(*total - n)) return {Attempt::NoSpace};
        return stream_body(r, n, expected);
    }

    AttemptResult stream_body(HttpResponse& r, uint64_t n, std::optional<uint64_t> expected) {
        uint64_t position = n;
        while (true) {
            if (cancel_) return {Attempt::Cancelled};
            std::span<uint8_t> buffer = hasher_.next_buffer();
            auto got = r.read(buffer);
            if (!got) return {Attempt::Error, got.error()};
            if (*got == 0) break;
            if (manifest_ == nullptr && position + *got > kUnsignedDownloadLimit) {
                log_too_large();
                return {Attempt::TooLarge};
            }
            if (!space_.fits(*got)) return {Attempt::NoSpace};
            std::span<const uint8_t> piece(buffer.data(), *got);
            if (auto w = file_.write_at(position, piece); !w)
                return {Attempt::Error, HttpError::file(w.error())};
            space_.use(*got);
            hasher_.submit(*got);
            position += *got;
            progress_.done = position;
            // Without this a server that never stops would fill the disk.
            if (manifest_ != nullptr && position > manifest_->size) {
                log_mismatch(position, manifest_->size);
                return {Attempt::Mismatch};
            }
        }
        if (expected) {
            auto length = file_.length();
            if (!length) return {Attempt::Error, HttpError::file(length.error())};
            if (*length != *expected)
                return {Attempt::Error, HttpError::network_text("connection closed early")};
        }
        return {Attempt::Complete};
    }

    DownloadOutcome finish() {
        if (manifest_ == nullptr) return {DownloadOutcomeKind::Success, std::nullopt, ""};
        auto length = file_.length();
        if (!length) return outcome_of(HttpError::file(length.error()));
        Sha256Digest digest = hasher_.finish();
        if (*length != manifest_->size || hex_encode(digest) != manifest_->sha256) {
            log_mismatch(*length, manifest_->size);
            return {DownloadOutcomeKind::Mismatch, std::nullopt, ""};
        }
        return {DownloadOutcomeKind::Success, digest, ""};
    }

    std::string_view url_;
    const MediaManifest* manifest_;
    const std::atomic<bool>& cancel_;
    DownloadProgress& progress_;
    DownloadSystem& system_;
    PartialFile& file_;
    SpaceBudget space_;
    PipelinedHasher hasher_;
};

}  // namespace

DownloadOutcome download_file(std::string_view url, const std::filesystem::path& partial_path,
                              const MediaManifest* manifest, const std::atomic<bool>& cancel,
                              DownloadProgress& progress, DownloadSystem& system) {
    auto file = system.open_partial(partial_path);
    if (!file)
        return {DownloadOutcomeKind::Failed, std::nullopt, HttpError::file(file.error()).message()};
    std::filesystem::path folder = partial_path.parent_path();
    if (folder.empty()) folder = ".";
    Downloader downloader(url, manifest, cancel, progress, system, **file, std::move(folder));
    return downloader.run();
}

}  // namespace sw
