// The buffer pool: sizing, alignment, and the two queues between one
// producer and one consumer, including either side giving up early.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "writer/buffer.h"

namespace sw {
namespace {

TEST(AlignedBuffer, StartsOnA64KiBBoundaryAndIsZero) {
    // Allocate a few odd sizes between the buffers so that the allocator
    // hands back differently placed blocks.
    std::vector<std::unique_ptr<char[]>> noise;
    for (size_t usable : {size_t{1}, size_t{4096}, size_t{65536}, size_t{100000}, size_t{131072}}) {
        noise.push_back(std::make_unique<char[]>(usable % 977 + 13));
        AlignedBuffer b(usable);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(b.bytes().data()) % 65536, 0u);
        EXPECT_LT(b.alignment_offset(), 65536u);
        EXPECT_EQ(b.usable_size(), usable);
        for (std::byte x : b.bytes())
            ASSERT_EQ(x, std::byte{0});
    }
}

TEST(AlignedBuffer, ViewsWithinTheStorage) {
    AlignedBuffer b(4096);
    auto all = b.bytes_mut();
    all[4095] = std::byte{7};
    EXPECT_EQ(b.bytes(4095, 1)[0], std::byte{7});
    EXPECT_EQ(b.octets(4000, 96).size(), 96u);
    // The slack after the usable region is still storage.
    EXPECT_EQ(b.bytes(0, 4096 + 65536 - b.alignment_offset()).size(),
              4096 + 65536 - b.alignment_offset());
}

#ifndef _WIN32  // death tests need fork; the Windows build is run under wine
TEST(AlignedBufferDeathTest, ReachingPastTheStorageStopsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    AlignedBuffer b(4096);
    const size_t room = 4096 + 65536 - b.alignment_offset();
    EXPECT_DEATH((void)b.bytes(room - 10, 11), "transfer buffer access beyond its storage");
    EXPECT_DEATH((void)b.bytes_mut(SIZE_MAX, 2), "transfer buffer access beyond its storage");
}
#endif

TEST(BufferPool, SizesFromTheRequest) {
    EXPECT_EQ(pool_buffer_count(0), 2u);
    EXPECT_EQ(pool_buffer_count(1), 2u);
    EXPECT_EQ(pool_buffer_count(3), 3u);
    EXPECT_EQ(pool_buffer_count(20), 8u);
    EXPECT_EQ(pool_buffer_size(0), 65536u);
    EXPECT_EQ(pool_buffer_size(4096), 65536u);
    EXPECT_EQ(pool_buffer_size(65536), 65536u);
    EXPECT_EQ(pool_buffer_size(65537), 131072u);
    EXPECT_EQ(pool_buffer_size(100000), 131072u);
    EXPECT_EQ(pool_buffer_size(8388608), 8388608u);
    BufferPool pool(1, 100000);
    EXPECT_EQ(pool.buffer_count(), 2u);
    EXPECT_EQ(pool.buffer_size(), 131072u);
}

TEST(BufferPool, EveryPayloadArrivesInOrderThroughAFewBuffers) {
    BufferPool pool(3, 65536);
    std::atomic<int> in_hand{0};
    int most_in_hand = 0;
    std::thread producer([&] {
        ProducerEnd end(pool);
        for (uint64_t i = 0; i < 200; ++i) {
            auto b = pool.take_free();
            ASSERT_TRUE(b);
            b->bytes_mut()[0] = static_cast<std::byte>(i);
            b->payload_offset = i * 65536;
            b->payload_length = i + 1;
            ++in_hand;
            ASSERT_TRUE(pool.send_filled(std::move(*b)));
        }
    });
    std::vector<const std::byte*> seen;
    uint64_t expected = 0;
    {
        ConsumerEnd end(pool);
        while (auto b = pool.take_filled()) {
            most_in_hand = std::max(most_in_hand, in_hand.load());
            EXPECT_EQ(b->payload_offset, expected * 65536);
            EXPECT_EQ(b->payload_length, expected + 1);
            EXPECT_EQ(b->bytes()[0], static_cast<std::byte>(expected));
            if (std::find(seen.begin(), seen.end(), b->bytes().data()) == seen.end())
                seen.push_back(b->bytes().data());
            ++expected;
            --in_hand;
            pool.give_back(std::move(*b));
        }
    }
    producer.join();
    EXPECT_EQ(expected, 200u);
    // The same three buffers went round; the producer never ran further
    // ahead than the pool allows.
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_LE(most_in_hand, 3);
}

TEST(BufferPool, AConsumerThatStopsEndsTheProducer) {
    BufferPool pool(2, 65536);
    std::atomic<int> sent{0};
    std::atomic<bool> producer_saw_close{false};
    std::thread producer([&] {
        ProducerEnd end(pool);
        for (;;) {
            auto b = pool.take_free();
            if (!b) break;
            if (!pool.send_filled(std::move(*b))) break;
            ++sent;
        }
        producer_saw_close = true;
    });
    {
        ConsumerEnd end(pool);
        auto first = pool.take_filled();
        ASSERT_TRUE(first);
        // Stop after the first buffer, keeping it.
    }
    producer.join();
    EXPECT_TRUE(producer_saw_close);
    EXPECT_LE(sent.load(), 2);
}

TEST(BufferPool, AProducerThatEndsLetsTheConsumerDrainFirst) {
    BufferPool pool(4, 65536);
    {
        ProducerEnd end(pool);
        for (int i = 0; i < 3; ++i) {
            auto b = pool.take_free();
            b->payload_length = static_cast<uint64_t>(i);
            ASSERT_TRUE(pool.send_filled(std::move(*b)));
        }
    }
    for (uint64_t i = 0; i < 3; ++i) {
        auto b = pool.take_filled();
        ASSERT_TRUE(b);
        EXPECT_EQ(b->payload_length, i);
    }
    EXPECT_FALSE(pool.take_filled());
    EXPECT_FALSE(pool.take_filled());
}

TEST(BufferPool, ProducerBlockedOnAnEmptyFreeQueueIsReleasedByTheConsumerLeaving) {
    BufferPool pool(2, 65536);
    auto a = pool.take_free();
    auto b = pool.take_free();
    std::atomic<bool> returned{false};
    std::thread producer([&] {
        EXPECT_FALSE(pool.take_free());
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned);
    pool.close_consumer();
    producer.join();
    EXPECT_TRUE(returned);
    EXPECT_FALSE(pool.send_filled(std::move(*a)));
}

}  // namespace
}  // namespace sw
