// The backdrop decision at start-up.
#include <gtest/gtest.h>

#include "ui/backdrop.h"

namespace sw {
namespace {

TEST(UiBackdrop, BuildNumberText) {
    EXPECT_EQ(parse_build_number("22621"), 22621u);
    EXPECT_EQ(parse_build_number("+22631"), 22631u);
    EXPECT_EQ(parse_build_number("4294967295"), 4294967295u);
    EXPECT_EQ(parse_build_number("4294967296"), std::nullopt);  // beyond 32 bits
    EXPECT_EQ(parse_build_number(""), std::nullopt);
    EXPECT_EQ(parse_build_number("+"), std::nullopt);
    EXPECT_EQ(parse_build_number("-1"), std::nullopt);
    EXPECT_EQ(parse_build_number("22621a"), std::nullopt);
    EXPECT_EQ(parse_build_number(" 22621"), std::nullopt);
    EXPECT_EQ(parse_build_number("++22621"), std::nullopt);
}

TEST(UiBackdrop, RequestedOnlyOnNewBuildsWithTransparency) {
    EXPECT_TRUE(choose_backdrop(22621, false, 1).request);
    EXPECT_TRUE(choose_backdrop(22621, false, std::nullopt).request);  // unreadable: still asked
    auto old = choose_backdrop(22000, false, 1);
    EXPECT_FALSE(old.request);
    EXPECT_EQ(old.build, 22000u);
    EXPECT_FALSE(choose_backdrop(22621, false, 0).request);
    EXPECT_FALSE(choose_backdrop(26100, true, 1).request);  // high contrast
    auto unreadable = choose_backdrop(std::nullopt, false, 1);
    EXPECT_FALSE(unreadable.request);
    EXPECT_EQ(unreadable.build, 0u);
}

}  // namespace
}  // namespace sw
