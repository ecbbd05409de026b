// The download's partial file on Windows: others may read, write and even
// delete it while a download holds it open, so that a virus scanner or the
// user looking at it never makes the download fail.
#include <windows.h>

#include <gtest/gtest.h>

#include "http/partial_file.h"
#include "support/temp_dir.h"

namespace sw {
namespace {

TEST(PartialFileWin, OthersMayReadWriteAndDeleteWhileItIsOpen) {
    test::TempDir dir;
    auto path = dir / "OrtivexOS-24.10.iso.part";
    auto file = open_partial_file(path);
    ASSERT_TRUE(file) << file.error().text;
    const uint8_t bytes[] = {1, 2, 3, 4};
    ASSERT_TRUE((*file)->write_at(0, bytes));

    HANDLE other = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE) << GetLastError();
    uint8_t seen[4] = {};
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(other, seen, sizeof seen, &got, nullptr));
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(seen[3], 4);
    CloseHandle(other);

    EXPECT_TRUE(DeleteFileW(path.c_str())) << GetLastError();
}

TEST(PartialFileWin, ExistingContentIsKeptAndReplacingMovesOverAnOlderFile) {
    test::TempDir dir;
    auto part = dir / "a.iso.part";
    auto final_path = dir / "a.iso";
    test::write_file(part, "resumable");
    test::write_file(final_path, "old");
    {
        auto file = open_partial_file(part);
        ASSERT_TRUE(file);
        auto length = (*file)->length();
        ASSERT_TRUE(length);
        EXPECT_EQ(*length, 9u);
    }
    ASSERT_TRUE(replace_file(part, final_path));
    EXPECT_EQ(test::read_file(final_path), "resumable");
    EXPECT_FALSE(std::filesystem::exists(part));
}

}  // namespace
}  // namespace sw
