// The Windows image file adapter and the CNG hash, under wine or on Windows.
#include <gtest/gtest.h>

#include "core/paths.h"
#include "hex/hex.h"
#include "image/hashing.h"
#include "image/image_reader.h"
#include "support/temp_dir.h"
#include "support/test_images.h"

namespace sw {
namespace {

TEST(WindowsImageFile, ReadsSharedFilesAndRefusesDevices) {
    test::TempDir dir;
    std::string content(5000, 'x');
    content[4999] = 'y';
    test::write_file(dir / "image.iso", content);
    auto image = open_image_file(utf8_of(dir / "image.iso"));
    ASSERT_TRUE(image) << image.error();
    EXPECT_EQ((*image)->size(), 5000u);
    // Shared for writing and deleting: another writer may open it meanwhile.
    test::write_file(dir / "image.iso", content);
    std::vector<uint8_t> buf(1);
    ASSERT_TRUE((*image)->read_at(4999, buf));
    EXPECT_EQ(buf[0], 'y');
    auto past = (*image)->read_at(5000, buf);
    ASSERT_FALSE(past);
    EXPECT_TRUE(is_short_read(past.error()));
    EXPECT_EQ(past.error().text, "unexpected end of file");

    for (const char* device : {"NUL"}) {
        auto d = open_image_file(device);
        ASSERT_FALSE(d) << device;
        EXPECT_EQ(d.error(), "not a regular file (a device, pipe or socket)");
    }
    auto directory = open_image_file(utf8_of(dir.path()));
    ASSERT_FALSE(directory);
    EXPECT_EQ(directory.error(), "is a directory");
    auto missing = open_image_file(utf8_of(dir / "missing.iso"));
    ASSERT_FALSE(missing);
    EXPECT_TRUE(missing.error().ends_with("(os error 2)")) << missing.error();
}

TEST(CngSha256, SameDigestsAsInProcess) {
    ASSERT_TRUE(system_sha256_available());
    std::string bytes = test::load_test_image("signed.iso");
    std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ImageHasher cng(CaptureRegion{40960, 4096});
    ImageHasher own = ImageHasher::in_process(CaptureRegion{40960, 4096});
    ASSERT_TRUE(cng.uses_system_provider());
    for (size_t at = 0; at < data.size(); at += 777777) {
        auto piece = data.subspan(at, std::min<size_t>(777777, data.size() - at));
        cng.update(piece);
        own.update(piece);
    }
    HashResult a = std::move(cng).finish();
    HashResult b = std::move(own).finish();
    EXPECT_EQ(hex_encode(a.digest), hex_encode(b.digest));
    EXPECT_EQ(a.captured, b.captured);
    EXPECT_EQ(a.captured.size(), 4096u);
}

}  // namespace
}  // namespace sw
