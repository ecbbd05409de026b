#include "writer/verification.h"

#include <algorithm>
#include <thread>

#include "runtime/thread.h"
#include "writer/buffer.h"

namespace sw {

namespace {

struct DeviceReaderOutcome {
    bool finished = false;  // false: the thread ended abnormally
    std::optional<PipelineError> error;
};

bool all_zero(std::span<const std::byte> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::byte b) { return b == std::byte{0}; });
}

void read_device(RawDevice& device, const ReadBackPlan& plan, const std::atomic<bool>& stop,
                 BufferPool& pool, DeviceReaderOutcome& outcome) {
    ProducerEnd end(pool);
    uint64_t position = 0;
    while (position < plan.image_size) {
        if (stop.load(std::memory_order_relaxed)) {
            outcome.error = PipelineError::of(PipelineError::Kind::Cancelled);
            return;
        }
        auto buffer = pool.take_free();
        if (!buffer) return;
        const uint64_t n = std::min<uint64_t>(pool.buffer_size(), plan.image_size - position);
        const size_t padded = static_cast<size_t>(round_up(n, plan.sector));
        auto region = buffer->bytes_mut(0, padded);
        if (auto read = device.read_at(position, region); !read) {
            outcome.error = device_error(read.error(), PipelineError::Kind::ReadBack);
            return;
        }
        if (position == 0 && plan.saved_head) {
            const auto& head = *plan.saved_head;
            if (!all_zero(region.first(head.size()))) {
                outcome.error = PipelineError::of(PipelineError::Kind::ContentMismatch);
                return;
            }
            std::copy(head.begin(), head.end(), region.begin());
        }
        buffer->payload_offset = position;
        buffer->payload_length = n;
        if (!pool.send_filled(std::move(*buffer))) return;
        position += n;
    }
}

}  // namespace

Result<HashResult, PipelineError> verify_read_back(RawDevice& device, const ReadBackPlan& plan,
                                                   const std::atomic<bool>& stop,
                                                   WriteProgress& progress) {
    BufferPool pool(plan.buffer_count, plan.buffer_size);
    DeviceReaderOutcome outcome;
    std::thread reader = spawn_thread([&] {
        try {
            read_device(device, plan, stop, pool, outcome);
            outcome.finished = true;
        } catch (...) {
            // Ends the same way as any other early stop: the hashing side
            // sees the queue closed and reports the thread's abnormal end.
        }
    });

    ImageHasher hasher(plan.capture);
    {
        ConsumerEnd end(pool);
        while (auto buffer = pool.take_filled()) {
            const size_t n = static_cast<size_t>(buffer->payload_length);
            hasher.update(buffer->octets(0, n));
            progress.done.store(buffer->payload_offset + n, std::memory_order_relaxed);
            pool.give_back(std::move(*buffer));
        }
    }
    reader.join();

    if (!outcome.finished)
        return unexpected(PipelineError::of(PipelineError::Kind::ReadBack, "reader panicked"));
    if (outcome.error) return unexpected(*outcome.error);
    if (hasher.position() != plan.image_size)
        return unexpected(PipelineError::of(PipelineError::Kind::ReadBack, "short read-back"));
    return std::move(hasher).finish();
}

}  // namespace sw
