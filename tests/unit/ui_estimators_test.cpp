// The rate and time-remaining estimators and the progress screen's figures.
#include <gtest/gtest.h>

#include <cmath>

#include "ui/estimators.h"
#include "ui/view.h"

namespace sw {
namespace {

TEST(UiRateEstimator, FirstSampleThenSmoothing) {
    RateEstimator e;
    reset_rate(e, 10.0);
    rate_sample(e, 10.02, 1'000'000);  // under 0.05 s: nothing changes
    EXPECT_FALSE(e.has_value);
    rate_sample(e, 11.0, 30'000'000);
    ASSERT_TRUE(e.has_value);
    EXPECT_DOUBLE_EQ(e.rate, 30e6);
    // A second of 60 MB/s moves the rate by 1 − e^(−1/2.5) of the difference.
    rate_sample(e, 12.0, 90'000'000);
    EXPECT_NEAR(e.rate, 30e6 + 30e6 * (1 - std::exp(-0.4)), 1);
    // A count that went down is a sample of 0.
    double before = e.rate;
    rate_sample(e, 13.0, 10);
    EXPECT_LT(e.rate, before);
    EXPECT_EQ(e.last_bytes, 10u);
}

TEST(UiRemainingEstimator, DocumentedCases) {
    {
        RemainingEstimator e;
        auto r = time_remaining(e, 0, 600'000'000, 30e6);
        EXPECT_EQ(r, (Remaining{Remaining::Seconds, 20}));
    }
    {
        RemainingEstimator e;
        EXPECT_EQ(time_remaining(e, 0, 90'000'000, 30e6).kind, Remaining::Finishing);  // 3 s
    }
    {
        RemainingEstimator e;  // 2 h 1 min
        EXPECT_EQ(time_remaining(e, 0, 7260ull * 1'000'000, 1e6).kind, Remaining::None);
    }
    {
        // 100 s, then a raw 102 s one second later: the projected 99 s is kept,
        // shown as 100 (nearest multiple of 5).
        RemainingEstimator e;
        time_remaining(e, 0, 100'000'000, 1e6);
        auto r = time_remaining(e, 1, 102'000'000, 1e6);
        EXPECT_DOUBLE_EQ(e.estimate, 99);
        EXPECT_EQ(r, (Remaining{Remaining::Seconds, 100}));
    }
    {
        // 10 s, then a raw 12 s one second later: projected 9 s is within 3 s.
        RemainingEstimator e;
        time_remaining(e, 0, 10'000'000, 1e6);
        auto r = time_remaining(e, 1, 12'000'000, 1e6);
        EXPECT_EQ(r, (Remaining{Remaining::Seconds, 9}));
    }
    {
        // A raw value far from the projection replaces it.
        RemainingEstimator e;
        time_remaining(e, 0, 100'000'000, 1e6);
        auto r = time_remaining(e, 1, 200'000'000, 1e6);
        EXPECT_DOUBLE_EQ(e.estimate, 200);
        EXPECT_EQ(r, (Remaining{Remaining::Seconds, 210}));  // nearest 30
    }
}

TEST(UiRemainingEstimator, WithoutUsableRate) {
    RemainingEstimator e;
    EXPECT_EQ(time_remaining(e, 0, 1000, std::nullopt).kind, Remaining::None);
    EXPECT_EQ(time_remaining(e, 0, 1000, 0.5).kind, Remaining::None);  // not above 1 B/s
    time_remaining(e, 0, 50'000'000, 1e6);
    // The stored estimate is used unchanged.
    EXPECT_EQ(time_remaining(e, 30, 0, std::nullopt), (Remaining{Remaining::Seconds, 50}));
    // Rounding bands.
    RemainingEstimator a;
    EXPECT_EQ(time_remaining(a, 0, 19'400'000, 1e6).seconds, 19u);
    RemainingEstimator b;
    EXPECT_EQ(time_remaining(b, 0, 117'600'000, 1e6).seconds, 120u);
    RemainingEstimator c;
    EXPECT_EQ(time_remaining(c, 0, 134'000'000, 1e6).seconds, 120u);
}

TEST(UiProgressFigures, ElapsedText) {
    EXPECT_EQ(elapsed_text(425.9), "7:05");
    EXPECT_EQ(elapsed_text(3840), "64:00");
    EXPECT_EQ(elapsed_text(-3), "0:00");
    EXPECT_EQ(elapsed_text(59.99), "0:59");
}

TEST(UiProgressFigures, FileAtPosition) {
    std::vector<ImageFile> files = {
        {"a", 100, 50}, {"b", 150, 0}, {"c", 150, 10}, {"d", 400, 100}, {"e", 500, 0}};
    EXPECT_EQ(file_at_position(files, 0), nullptr);  // boot area
    EXPECT_EQ(file_at_position(files, 100)->path, "a");
    EXPECT_EQ(file_at_position(files, 149)->path, "a");
    EXPECT_EQ(file_at_position(files, 155)->path, "c");  // two empty or earlier files tested
    EXPECT_EQ(file_at_position(files, 300), nullptr);    // a gap
    EXPECT_EQ(file_at_position(files, 499)->path, "d");
    EXPECT_EQ(file_at_position(files, 500), nullptr);
    EXPECT_EQ(file_at_position({}, 5), nullptr);
}

}  // namespace
}  // namespace sw
