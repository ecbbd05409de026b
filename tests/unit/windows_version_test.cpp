#include "core/windows_version.h"

#include <gtest/gtest.h>

namespace sw {
namespace {

TEST(WindowsDescription, FullLine) {
    EXPECT_EQ(describe_windows("Windows 10 Pro", "23H2", "22631", 2861u),
              "Windows 11 Pro 23H2 (build 22631.2861)");
}

TEST(WindowsDescription, ElevenFromBuild22000Only) {
    EXPECT_EQ(describe_windows("Windows 10 Home", "21H2", "22000", 1u),
              "Windows 11 Home 21H2 (build 22000.1)");
    EXPECT_EQ(describe_windows("Windows 10 Home", "21H2", "21999", 1u),
              "Windows 10 Home 21H2 (build 21999.1)");
    EXPECT_EQ(describe_windows("Windows 10 Home", "", "+22000", std::nullopt),
              "Windows 11 Home (build +22000)");
    EXPECT_EQ(describe_windows("Windows 10 Home", "", "22k", std::nullopt),
              "Windows 10 Home (build 22k)");
}

TEST(WindowsDescription, MissingValuesLeaveNoGaps) {
    EXPECT_EQ(describe_windows(std::nullopt, std::nullopt, std::nullopt, std::nullopt),
              "Windows (build )");
    EXPECT_EQ(describe_windows("Windows 10 Pro", std::nullopt, "19045", std::nullopt),
              "Windows 10 Pro (build 19045)");
}

}  // namespace
}  // namespace sw
