// Transfer buffers for unbuffered raw-device I/O, and the pair of queues
// through which a fixed set of them circulates between one producer thread
// and one consumer thread. A pass (one copy, one read-back) allocates its
// buffers once and recycles them; nothing is allocated per transfer.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>

namespace sw {

inline constexpr size_t kBufferAlignment = 65536;

// A zero-filled heap block whose usable region starts on a 64 KiB boundary,
// which covers every sector size a drive may have and the page granularity
// that unbuffered I/O needs.
class AlignedBuffer {
  public:
    // Allocation failure ends the process: no pass runs on a partial pool.
    explicit AlignedBuffer(size_t usable_size);

    AlignedBuffer(AlignedBuffer&&) noexcept = default;
    AlignedBuffer& operator=(AlignedBuffer&&) noexcept = default;

    size_t usable_size() const { return usable_; }
    // Bytes from the start of the storage to the aligned start (0..65535).
    size_t alignment_offset() const { return offset_; }

    // The usable region.
    std::span<const std::byte> bytes() const { return bytes(0, usable_); }
    std::span<std::byte> bytes_mut() { return bytes_mut(0, usable_); }
    // `length` bytes from `start` within the usable region. Reaching past the
    // storage is a programming error and stops the process.
    std::span<const std::byte> bytes(size_t start, size_t length) const;
    std::span<std::byte> bytes_mut(size_t start, size_t length);
    // The same as unsigned bytes, for readers and hashers.
    std::span<const uint8_t> octets(size_t start, size_t length) const;
    std::span<uint8_t> octets_mut(size_t start, size_t length);

    // Payload while the buffer is in flight: where its content belongs (in
    // the image or on the device) and how many bytes of it are valid.
    uint64_t payload_offset = 0;
    uint64_t payload_length = 0;

  private:
    std::byte* checked(size_t start, size_t length) const;

    std::unique_ptr<std::byte[]> storage_;
    size_t offset_ = 0;
    size_t usable_ = 0;
};

// count clamped to 2..8.
size_t pool_buffer_count(size_t requested_count);
// The chunk size rounded up to a multiple of 64 KiB, at least 64 KiB.
size_t pool_buffer_size(size_t requested_chunk);

// The buffers of one pass and their two queues: an unbounded free queue
// (empty buffers on their way back to the producer) and a filled queue
// bounded by the buffer count (back-pressure on a fast producer).
//
// Each side ends by closing its end (ProducerEnd / ConsumerEnd do it when
// they go out of scope, like dropping a channel's ends): once the producer
// has closed, the consumer drains what is queued and then sees "closed";
// once the consumer has closed, the producer's next receive or send fails.
class BufferPool {
  public:
    BufferPool(size_t requested_count, size_t requested_chunk);
    BufferPool(const BufferPool&) = delete;
    BufferPool& operator=(const BufferPool&) = delete;

    size_t buffer_count() const { return count_; }
    size_t buffer_size() const { return size_; }

    // Producer side. An empty buffer, blocking while none is free; nothing
    // when the consumer has gone.
    std::optional<AlignedBuffer> take_free();
    // Hands a filled buffer on, blocking while the filled queue is full;
    // false (the buffer is dropped) when the consumer has gone.
    bool send_filled(AlignedBuffer buffer);
    void close_producer();

    // Consumer side. The next filled buffer, blocking while none is queued;
    // nothing once the producer has closed and the queue is empty.
    std::optional<AlignedBuffer> take_filled();
    // Returns a used buffer to the free queue (never blocks).
    void give_back(AlignedBuffer buffer);
    void close_consumer();

  private:
    size_t count_;
    size_t size_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<AlignedBuffer> free_;
    std::deque<AlignedBuffer> filled_;
    bool producer_closed_ = false;
    bool consumer_closed_ = false;
};

// Closes the producer side when it goes out of scope (every path of a thread).
class ProducerEnd {
  public:
    explicit ProducerEnd(BufferPool& pool) : pool_(&pool) {}
    ~ProducerEnd() { pool_->close_producer(); }
    ProducerEnd(const ProducerEnd&) = delete;
    ProducerEnd& operator=(const ProducerEnd&) = delete;

  private:
    BufferPool* pool_;
};

class ConsumerEnd {
  public:
    explicit ConsumerEnd(BufferPool& pool) : pool_(&pool) {}
    ~ConsumerEnd() { pool_->close_consumer(); }
    ConsumerEnd(const ConsumerEnd&) = delete;
    ConsumerEnd& operator=(const ConsumerEnd&) = delete;

  private:
    BufferPool* pool_;
};

}  // namespace sw
