#include "writer/buffer.h"

#include <algorithm>
#include <new>

#include "core/text.h"
#include "runtime/thread.h"

namespace sw {

AlignedBuffer::AlignedBuffer(size_t usable_size) : usable_(usable_size) {
    try {
        // Value-initialised: the whole block is zero.
        storage_ = std::make_unique<std::byte[]>(usable_size + kBufferAlignment);
    } catch (const std::bad_alloc&) {
        fatal(fmt("failed to allocate a transfer buffer of {} bytes", usable_size));
    }
    auto address = reinterpret_cast<uintptr_t>(storage_.get());
    offset_ = (kBufferAlignment - address % kBufferAlignment) % kBufferAlignment;
}

std::byte* AlignedBuffer::checked(size_t start, size_t length) const {
    // Room from the aligned start to the end of the storage.
    const size_t room = usable_ + kBufferAlignment - offset_;
    if (start > room || length > room - start)
        fatal(fmt("transfer buffer access beyond its storage ({} + {} of {})", start, length,
                  usable_));
    return storage_.get() + offset_ + start;
}

std::span<const std::byte> AlignedBuffer::bytes(size_t start, size_t length) const {
    return {checked(start, length), length};
}

std::span<std::byte> AlignedBuffer::bytes_mut(size_t start, size_t length) {
    return {checked(start, length), length};
}

std::span<const uint8_t> AlignedBuffer::octets(size_t start, size_t length) const {
    return {reinterpret_cast<const uint8_t*>(checked(start, length)), length};
}

std::span<uint8_t> AlignedBuffer::octets_mut(size_t start, size_t length) {
    return {reinterpret_cast<uint8_t*>(checked(start, length)), length};
}

size_t pool_buffer_count(size_t requested_count) {
    return std::clamp<size_t>(requested_count, 2, 8);
}

size_t pool_buffer_size(size_t requested_chunk) {
    if (requested_chunk <= kBufferAlignment) return kBufferAlignment;
    return (requested_chunk + kBufferAlignment - 1) / kBufferAlignment * kBufferAlignment;
}

BufferPool::BufferPool(size_t requested_count, size_t requested_chunk)
    : count_(pool_buffer_count(requested_count)), size_(pool_buffer_size(requested_chunk)) {
    for (size_t i = 0; i < count_; ++i)
        free_.emplace_back(size_);
}

std::optional<AlignedBuffer> BufferPool::take_free() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return consumer_closed_ || !free_.empty(); });
    if (consumer_closed_) return std::nullopt;
    AlignedBuffer buffer = std::move(free_.front());
    free_.pop_front();
    return buffer;
}

bool BufferPool::send_filled(AlignedBuffer buffer) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return consumer_closed_ || filled_.size() < count_; });
    if (consumer_closed_) return false;
    filled_.push_back(std::move(buffer));
    changed_.notify_all();
    return true;
}

void BufferPool::close_producer() {
    std::lock_guard<std::mutex> lock(mutex_);
    producer_closed_ = true;
    changed_.notify_all();
}

std::optional<AlignedBuffer> BufferPool::take_filled() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return producer_closed_ || !filled_.empty(); });
    if (filled_.empty()) return std::nullopt;
    AlignedBuffer buffer = std::move(filled_.front());
    filled_.pop_front();
    changed_.notify_all();
    return buffer;
}

void BufferPool::give_back(AlignedBuffer buffer) {
    std::lock_guard<std::mutex> lock(mutex_);
    buffer.payload_offset = 0;
    buffer.payload_length = 0;
    free_.push_back(std::move(buffer));
    changed_.notify_all();
}

void BufferPool::close_consumer() {
    std::lock_guard<std::mutex> lock(mutex_);
    consumer_closed_ = true;
    // What is still queued for the consumer will never be used.
    filled_.clear();
    changed_.notify_all();
}

}  // namespace sw
