#include "image/hashing.h"

#include <gtest/gtest.h>

#include <random>

#include "hex/hex.h"
#include "image/validation.h"

namespace sw {
namespace {

std::span<const uint8_t> bytes_of(std::string_view s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

std::vector<uint8_t> pattern(size_t n, uint32_t seed = 1) {
    std::vector<uint8_t> v(n);
    std::mt19937 gen(seed);
    for (auto& b : v)
        b = static_cast<uint8_t>(gen());
    return v;
}

std::string digest_hex(ImageHasher h) {
    return hex_encode(std::move(h).finish().digest);
}

TEST(ImageHasher, AbcOnEveryBackend) {
    const char* abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    ImageHasher platform;
    platform.update(bytes_of("abc"));
    EXPECT_EQ(digest_hex(std::move(platform)), abc);
    ImageHasher own = ImageHasher::in_process();
    EXPECT_FALSE(own.uses_system_provider());
    own.update(bytes_of("a"));
    own.update(bytes_of("bc"));
    EXPECT_EQ(own.position(), 3u);
    EXPECT_EQ(digest_hex(std::move(own)), abc);
#ifdef _WIN32
    EXPECT_TRUE(system_sha256_available());
    EXPECT_TRUE(ImageHasher().uses_system_provider());
#else
    EXPECT_FALSE(system_sha256_available());
    EXPECT_FALSE(ImageHasher().uses_system_provider());
#endif
}

// The stream hashed with the region zeroed, in one piece, by the in-process SHA-256.
std::string reference(std::vector<uint8_t> data, uint64_t offset, uint64_t length) {
    for (uint64_t i = offset; i < data.size() && i - offset < length; ++i)
        data[i] = 0;
    return hex_encode(sha256_in_process(data));
}

TEST(ImageHasher, CaptureRegionAcrossAnySplit) {
    const auto data = pattern(30000);
    const CaptureRegion region{10240, 4096};
    const std::vector<uint8_t> real(data.begin() + 10240, data.begin() + 10240 + 4096);
    const std::string expected = reference(data, region.offset, region.length);
    std::mt19937 gen(7);
    for (int round = 0; round < 200; ++round) {
        ImageHasher h = (round % 2) ? ImageHasher(region) : ImageHasher::in_process(region);
        size_t pos = 0;
        while (pos < data.size()) {
            size_t n = std::min<size_t>(data.size() - pos, gen() % 6000);
            h.update(std::span(data).subspan(pos, n));
            pos += n;
        }
        HashResult r = std::move(h).finish();
        ASSERT_EQ(hex_encode(r.digest), expected) << round;
        ASSERT_EQ(r.captured, real) << round;
    }
}

TEST(ImageHasher, RegionEdges) {
    const auto data = pattern(10000);
    struct Case {
        CaptureRegion region;
        size_t captured;
    };
    const Case cases[] = {
        {{0, 4096}, 4096},             // at the start
        {{10000 - 4096, 4096}, 4096},  // ending exactly with the stream
        {{8000, 4096}, 2000},          // cut by the end of the stream
        {{10000, 4096}, 0},            // right after the stream
        {{1 << 30, 4096}, 0},          // far beyond: nothing captured, digest unchanged
        {{9000, UINT64_MAX}, 1000},    // a length reaching past 2^64 is saturated
        {{5000, 0}, 0},                // empty region
    };
    for (const auto& c : cases) {
        ImageHasher h(c.region);
        h.update(std::span(data).first(4000));
        h.update(std::span(data).subspan(4000));
        HashResult r = std::move(h).finish();
        EXPECT_EQ(hex_encode(r.digest), reference(data, c.region.offset, c.region.length))
            << c.region.offset;
        ASSERT_EQ(r.captured.size(), c.captured) << c.region.offset;
        if (c.captured) {
            EXPECT_TRUE(std::equal(r.captured.begin(), r.captured.end(),
                                   data.begin() + static_cast<ptrdiff_t>(c.region.offset)));
        }
    }
    ImageHasher beyond(CaptureRegion{1 << 30, 4096});
    beyond.update(data);
    EXPECT_EQ(digest_hex(std::move(beyond)), hex_encode(sha256_in_process(data)));
}

// ---- the content check ----------------------------------------------------------

// Counts reads and can fail one.
struct ProbeReader final : ImageReader {
    MemoryImageReader inner;
    mutable int reads = 0;
    std::optional<uint64_t> fail_at;
    explicit ProbeReader(std::span<const uint8_t> b) : inner(b) {}
    uint64_t size() const override { return inner.size(); }
    Result<void, OsError> read_at(uint64_t off, std::span<uint8_t> out) const override {
        ++reads;
        if (fail_at && *fail_at >= off && *fail_at < off + out.size()) {
            return unexpected(OsError{19, "device went away", kDisconnected});
        }
        return inner.read_at(off, out);
    }
};

// A signed-image inspection of a 20 MiB stream with its block at 8 MiB - 2048,
// straddling the first two chunks.
struct SignedStream {
    std::vector<uint8_t> data = pattern(20 * 1024 * 1024 + 12345, 3);
    ImageInspection inspection;
    SignedStream() {
        const uint64_t block = 8 * 1024 * 1024 - 2048;
        inspection.image_size = data.size();
        inspection.signature = SignatureLocation{block, 4096};
        MediaManifest m;
        m.sha256 = reference(data, block, 4096);
        inspection.manifest = m;
    }
};

TEST(ContentCheck, SignedStreamAndChanges) {
    SignedStream s;
    std::atomic<bool> cancel{false};
    std::vector<std::pair<uint64_t, uint64_t>> calls;
    ProbeReader reader(s.data);
    auto ok =
        verify_image_content(reader, s.inspection, cancel, [&](uint64_t done, uint64_t total) {
            calls.push_back({done, total});
        });
    EXPECT_TRUE(ok) << ok.error().debug();
    EXPECT_EQ(reader.reads, 3);
    const uint64_t chunk = kContentChunkBytes;
    const uint64_t total = s.data.size();
    EXPECT_EQ(calls, (std::vector<std::pair<uint64_t, uint64_t>>{
                         {chunk, total}, {2 * chunk, total}, {total, total}}));

    // A change inside the block does not change the digest; any other does.
    auto inside = s.data;
    inside[s.inspection.signature->offset + 4095] ^= 0xff;
    MemoryImageReader in_block(inside);
    EXPECT_TRUE(verify_image_content(in_block, s.inspection, cancel));
    for (uint64_t at : {uint64_t{0}, s.inspection.signature->offset - 1,
                        s.inspection.signature->offset + 4096, total - 1}) {
        auto changed = s.data;
        changed[at] ^= 0x01;
        MemoryImageReader r(changed);
        auto v = verify_image_content(r, s.inspection, cancel);
        ASSERT_FALSE(v) << at;
        EXPECT_EQ(v.error().kind, ValidationError::Kind::Corrupted);
        EXPECT_EQ(v.error().message(), "image hash differs from the signed hash");
    }
}

TEST(ContentCheck, CancelReadErrorAndUnsigned) {
    SignedStream s;
    std::atomic<bool> cancel{true};
    ProbeReader before(s.data);
    auto c = verify_image_content(before, s.inspection, cancel);
    ASSERT_FALSE(c);
    EXPECT_EQ(c.error().kind, ValidationError::Kind::Cancelled);
    EXPECT_EQ(before.reads, 0);

    // Set during the check: nothing is read past the chunks already read
    // ahead (three buffers), and the check ends cancelled.
    cancel = false;
    ProbeReader during(s.data);
    auto d = verify_image_content(during, s.inspection, cancel,
                                  [&](uint64_t, uint64_t) { cancel = true; });
    ASSERT_FALSE(d);
    EXPECT_EQ(d.error().kind, ValidationError::Kind::Cancelled);
    EXPECT_LE(during.reads, 4);

    cancel = false;
    ProbeReader failing(s.data);
    failing.fail_at = 17 * 1024 * 1024;
    auto f = verify_image_content(failing, s.inspection, cancel);
    ASSERT_FALSE(f);
    EXPECT_EQ(f.error(), ValidationError::io("device went away"));

    ImageInspection unsigned_image;
    unsigned_image.image_size = s.data.size();
    ProbeReader untouched(s.data);
    EXPECT_TRUE(verify_image_content(untouched, unsigned_image, cancel));
    EXPECT_EQ(untouched.reads, 0);
}

}  // namespace
}  // namespace sw
