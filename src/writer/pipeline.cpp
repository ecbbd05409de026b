#include "writer/pipeline.h"

#include <algorithm>
#include <thread>

#include "core/text.h"
#include "runtime/thread.h"
#include "writer/buffer.h"
#include "writer/verification.h"

namespace sw {

std::string PipelineError::text() const {
    switch (kind) {
        case Kind::ImageRead:
            return fmt("image read failed: {}", detail);
        case Kind::DeviceWrite:
            return fmt("device write failed: {}", detail);
        case Kind::DeviceDisconnected:
            return fmt("device disconnected: {}", detail);
        case Kind::DeviceFlush:
            return fmt("device flush failed: {}", detail);
        case Kind::HashMismatch:
            return "image bytes differ from the signed hash";
        case Kind::ReadBack:
            return fmt("device read-back failed: {}", detail);
        case Kind::ContentMismatch:
            return "device content differs from the image";
        case Kind::DeviceTooSmall:
            return "device smaller than image";
        case Kind::Cancelled:
            return "cancelled";
        case Kind::Refused:
            return fmt("refused: {}", detail);
    }
    return "cancelled";
}

std::string_view kind_name(PipelineError::Kind kind) {
    using K = PipelineError::Kind;
    switch (kind) {
        case K::ImageRead:
            return "ImageRead";
        case K::DeviceWrite:
            return "DeviceWrite";
        case K::DeviceDisconnected:
            return "DeviceDisconnected";
        case K::DeviceFlush:
            return "DeviceFlush";
        case K::HashMismatch:
            return "HashMismatch";
        case K::ReadBack:
            return "ReadBack";
        case K::ContentMismatch:
            return "ContentMismatch";
        case K::DeviceTooSmall:
            return "DeviceTooSmall";
        case K::Cancelled:
            return "Cancelled";
        case K::Refused:
            return "Refused";
    }
    return "Cancelled";
}

PipelineError device_error(const OsError& error, PipelineError::Kind otherwise) {
    if (error.is(kStopped)) return PipelineError::of(PipelineError::Kind::Cancelled);
    if (error.is(kDisconnected))
        return PipelineError::of(PipelineError::Kind::DeviceDisconnected, error.text);
    return PipelineError::of(otherwise, error.text);
}

namespace {

using Kind = PipelineError::Kind;

struct ImageReaderOutcome {
    bool finished = false;  // false: the thread ended abnormally
    std::optional<std::string> error;
    HashResult hash;
    uint64_t hashed = 0;
};

// The reader thread: image → hash → filled queue, front to back.
void read_image(const ImageReader& image, const PipelineConfig& config,
                const std::atomic<bool>& stop, BufferPool& pool, ImageReaderOutcome& outcome) {
    ProducerEnd end(pool);
    ImageHasher hasher(config.capture);
    uint64_t read = 0;
    while (read < config.image_size) {
        if (stop.load(std::memory_order_relaxed)) break;
        auto buffer = pool.take_free();
        if (!buffer) break;
        const uint64_t n = std::min<uint64_t>(pool.buffer_size(), config.image_size - read);
        auto bytes = buffer->octets_mut(0, static_cast<size_t>(n));
        if (auto got = image.read_at(read, bytes); !got) {
            // The file ended early: it was truncated after it was validated.
            outcome.error =
                is_short_read(got.error()) ? "image shorter than expected" : got.error().text;
            break;
        }
        hasher.update(bytes);
        buffer->payload_offset = read;
        buffer->payload_length = n;
        if (!pool.send_filled(std::move(*buffer))) break;
        read += n;
    }
    outcome.hashed = hasher.position();
    outcome.hash = std::move(hasher).finish();
}

// Joins the thread on every way out of the scope.
class Joiner {
  public:
    explicit Joiner(std::thread& t) : t_(t) {}
    ~Joiner() {
        if (t_.joinable()) t_.join();
    }
    Joiner(const Joiner&) = delete;
    Joiner& operator=(const Joiner&) = delete;

  private:
    std::thread& t_;
};

// Where the pass puts whole sectors, and how much of the image's start it
// keeps back.
struct PassShape {
    uint32_t sector;
    uint64_t head_length;
};

// The write pass: the reader fills buffers on a thread of its own, this
// thread writes them in order, the head zeroed and kept in `head`. Returns
// the first failure of a write or a stop; the reader's own end is in `outcome`.
std::optional<PipelineError> write_pass(const ImageReader& image, RawDevice& device,
                                        const PipelineConfig& config, const std::atomic<bool>& stop,
                                        WriteProgress& progress, PassShape shape,
                                        std::optional<AlignedBuffer>& head,
                                        ImageReaderOutcome& reader_outcome) {
    const uint32_t sector = shape.sector;
    const uint64_t head_length = shape.head_length;
    std::optional<PipelineError> write_error;
    BufferPool pool(config.buffer_count, config.chunk_size);
    std::thread reader = spawn_thread([&] {
        try {
            read_image(image, config, stop, pool, reader_outcome);
            reader_outcome.finished = true;
        } catch (...) {
            // Reported as the reader's abnormal end once it is joined.
        }
    });
    Joiner joiner(reader);
    ConsumerEnd end(pool);
    while (auto buffer = pool.take_filled()) {
        if (stop.load(std::memory_order_relaxed)) {
            write_error = PipelineError::of(Kind::Cancelled);
            break;
        }
        const uint64_t offset = buffer->payload_offset;
        const uint64_t length = buffer->payload_length;
        const size_t padded = static_cast<size_t>(round_up(length, sector));
        // Whole sectors go to the drive; what lies past the image is zero.
        auto tail =
            buffer->bytes_mut(static_cast<size_t>(length), padded - static_cast<size_t>(length));
        std::fill(tail.begin(), tail.end(), std::byte{0});
        if (offset == 0 && head_length > 0) {
            head.emplace(static_cast<size_t>(head_length));
            auto first = buffer->bytes_mut(0, static_cast<size_t>(head_length));
            std::copy(first.begin(), first.end(), head->bytes_mut().begin());
            std::fill(first.begin(), first.end(), std::byte{0});
        }
        if (auto written = device.write_at(offset, buffer->bytes_mut(0, padded)); !written) {
            write_error = device_error(written.error(), Kind::DeviceWrite);
            break;
        }
        progress.done.store(offset + length, std::memory_order_relaxed);
        pool.give_back(std::move(*buffer));
    }
    return write_error;  // the queue ends are dropped and the reader joined here
}

// Why the pass failed, if it did: the reader's end comes first, then the
// writes, a stop, and the image's bytes against what they must hash to.
std::optional<PipelineError> pass_error(const ImageReaderOutcome& reader_outcome,
                                        const std::optional<PipelineError>& write_error,
                                        const std::atomic<bool>& stop,
                                        const PipelineConfig& config) {
    if (!reader_outcome.finished) return PipelineError::of(Kind::ImageRead, "reader panicked");
    if (write_error) return *write_error;
    if (stop.load(std::memory_order_relaxed)) return PipelineError::of(Kind::Cancelled);
    if (reader_outcome.error) return PipelineError::of(Kind::ImageRead, *reader_outcome.error);
    if (reader_outcome.hashed != config.image_size)
        return PipelineError::of(Kind::ImageRead, "short image");
    if (config.expected_digest && *config.expected_digest != reader_outcome.hash.digest)
        return PipelineError::of(Kind::HashMismatch);
    if (config.expected_capture && *config.expected_capture != reader_outcome.hash.captured)
        return PipelineError::of(Kind::HashMismatch);
    return std::nullopt;
}

// The kept head, written last, flushed and read back from the medium.
std::optional<PipelineError> write_head(RawDevice& device, AlignedBuffer& head) {
    if (auto written = device.write_at(0, head.bytes_mut()); !written)
        return device_error(written.error(), Kind::DeviceWrite);
    if (auto flushed = device.flush(); !flushed)
        return device_error(flushed.error(), Kind::DeviceFlush);
    AlignedBuffer check_head(head.usable_size());
    {
        auto medium = device.read_from_medium();
        if (!medium) return device_error(medium.error(), Kind::ReadBack);
        if (auto read = device.read_at(0, check_head.bytes_mut()); !read)
            return device_error(read.error(), Kind::ReadBack);
    }
    auto want = head.bytes();
    auto got = check_head.bytes();
    if (!std::equal(want.begin(), want.end(), got.begin(), got.end()))
        return PipelineError::of(Kind::ContentMismatch);
    return std::nullopt;
}

}  // namespace

Result<PipelineReport, PipelineError> run_pipeline(const ImageReader& image, RawDevice& device,
                                                   const PipelineConfig& config,
                                                   const std::atomic<bool>& stop,
                                                   WriteProgress& progress,
                                                   const ReidentifyCheck& reidentify,
                                                   Clock& clock) {
    const uint32_t sector = std::max<uint32_t>(device.sector(), 512);
    const uint64_t padded_length = round_up(config.image_size, sector);
    if (device.size() < padded_length) return unexpected(PipelineError::of(Kind::DeviceTooSmall));
    const size_t buffer_size = pool_buffer_size(config.chunk_size);
    const uint64_t head_length = std::min<uint64_t>(padded_length, config.head_limit);
    if (head_length % sector != 0 || head_length > buffer_size)
        return unexpected(PipelineError::of(Kind::Refused, "head not sector-aligned"));

    progress.set(0, 0, WritePhase::Preparing);
    auto check = [&](WritePhase phase) -> std::optional<PipelineError> {
        if (!reidentify) return std::nullopt;
        if (auto changed = reidentify(phase)) return PipelineError::of(Kind::Refused, *changed);
        return std::nullopt;
    };
    if (auto refused = check(WritePhase::Writing)) return unexpected(*refused);

    // Until the head is written, a stop also cancels a request that hangs.
    std::optional<RawDevice::StopScope> watching;
    watching.emplace(device.stop_on(stop));

    progress.set(0, config.image_size, WritePhase::Writing);
    const auto write_started = clock.now();

    // The saved head, kept apart until it is written last.
    std::optional<AlignedBuffer> head;
    ImageReaderOutcome reader_outcome;
    std::optional<PipelineError> write_error = write_pass(
        image, device, config, stop, progress, {sector, head_length}, head, reader_outcome);

    if (auto failed = pass_error(reader_outcome, write_error, stop, config))
        return unexpected(*failed);

    PipelineReport report;
    report.digest = reader_outcome.hash.digest;
    report.bytes_written = padded_length;
    report.write_seconds = elapsed_seconds(write_started, clock.now());

    if (auto refused = check(WritePhase::Flushing)) return unexpected(*refused);
    progress.set(0, 0, WritePhase::Flushing);
    const auto flush_started = clock.now();
    if (auto flushed = device.flush(); !flushed)
        return unexpected(device_error(flushed.error(), Kind::DeviceFlush));
    report.flush_seconds = elapsed_seconds(flush_started, clock.now());

    if (auto refused = check(WritePhase::Verifying)) return unexpected(*refused);
    progress.set(0, config.image_size, WritePhase::Verifying);
    const auto verify_started = clock.now();
    if (config.verify) {
        ReadBackPlan plan;
        plan.image_size = config.image_size;
        plan.capture = config.capture;
        plan.buffer_size = buffer_size;
        plan.buffer_count = pool_buffer_count(config.buffer_count);
        plan.sector = sector;
        if (head) plan.saved_head = head->bytes();
        auto medium = device.read_from_medium();
        if (!medium) return unexpected(device_error(medium.error(), Kind::ReadBack));
        auto read_back = verify_read_back(device, plan, stop, progress);
        if (!read_back) return unexpected(read_back.error());
        if (read_back->digest != reader_outcome.hash.digest ||
            read_back->captured != reader_outcome.hash.captured)
            return unexpected(PipelineError::of(Kind::ContentMismatch));
        report.verified = true;
    }

    // The last chance to stop: a stop that came during the read-back (or
    // after its last read) ends the write before the drive can boot.
    if (stop.load(std::memory_order_relaxed)) return unexpected(PipelineError::of(Kind::Cancelled));
    // Once begun, the head is written whole.
    watching.reset();

    if (head) {
        if (auto failed = write_head(device, *head)) return unexpected(*failed);
    }
    if (config.verify) report.verify_seconds = elapsed_seconds(verify_started, clock.now());

    progress.set(0, 0, WritePhase::Finishing);
    return report;
}

}  // namespace sw
