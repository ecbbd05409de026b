// The Linux image file adapter against real files, a FIFO and devices.
#include <sys/stat.h>

#include <cerrno>

#include <gtest/gtest.h>

#include "core/paths.h"
#include "image/image_reader.h"
#include "support/temp_dir.h"

namespace sw {
namespace {

TEST(LinuxImageFile, ReadsExactlyAndReportsShortReads) {
    test::TempDir dir;
    std::string content(10000, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 31);
    test::write_file(dir / "image.iso", content);
    auto image = open_image_file(utf8_of(dir / "image.iso"));
    ASSERT_TRUE(image) << image.error();
    EXPECT_EQ((*image)->size(), 10000u);
    std::vector<uint8_t> buf(100);
    ASSERT_TRUE((*image)->read_at(9900, buf));
    EXPECT_EQ(std::string(buf.begin(), buf.end()), content.substr(9900));
    auto past = (*image)->read_at(9901, buf);
    ASSERT_FALSE(past);
    EXPECT_TRUE(is_short_read(past.error()));
    EXPECT_EQ(past.error().text, "unexpected end of file");
    EXPECT_FALSE((*image)->read_at(UINT64_MAX - 10, buf));
    std::vector<uint8_t> none;
    EXPECT_TRUE((*image)->read_at(10000, none));
}

TEST(LinuxImageFile, ASystemErrorKeepsItsCodeAndIsNoShortRead) {
    // /proc/self/mem is a regular file whose unmapped first page cannot be read.
    auto image = open_image_file("/proc/self/mem");
    ASSERT_TRUE(image) << image.error();
    std::vector<uint8_t> buf(16);
    auto r = (*image)->read_at(0, buf);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().code, EIO);
    EXPECT_EQ(r.error().text, os_error(EIO).text);
    EXPECT_FALSE(is_short_read(r.error()));
}

TEST(LinuxImageFile, OnlyRegularFilesAreImages) {
    test::TempDir dir;
    const std::string fifo = utf8_of(dir / "pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // No writer: a blocking open would wait forever.
    auto f = open_image_file(fifo);
    ASSERT_FALSE(f);
    EXPECT_EQ(f.error(), "not a regular file (a device, pipe or socket)");
    for (const char* device : {"/dev/null", "/dev/zero"}) {
        auto d = open_image_file(device);
        ASSERT_FALSE(d) << device;
        EXPECT_EQ(d.error(), "not a regular file (a device, pipe or socket)");
    }
    auto directory = open_image_file(utf8_of(dir.path()));
    ASSERT_FALSE(directory);
    EXPECT_EQ(directory.error(), "is a directory");
    auto missing = open_image_file(utf8_of(dir / "missing.iso"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error(), "No such file or directory (os error 2)");
}

}  // namespace
}  // namespace sw
