// The two estimators behind the progress figures: a smoothed transfer rate
// and a time remaining that does not jitter from one frame to the next.
#pragma once

#include <cstdint>
#include <optional>

namespace sw {

struct RateEstimator {
    bool has_value = false;
    double rate = 0;  // bytes per second
    uint64_t last_bytes = 0;
    double last_time = 0;
};

struct RemainingEstimator {
    bool has_value = false;
    double estimate = 0;  // seconds
    double last_update = 0;
};

struct Remaining {
    enum Kind { None, Finishing, Seconds };
    Kind kind = None;
    uint64_t seconds = 0;
    friend bool operator==(const Remaining&, const Remaining&) = default;
};

// A fresh estimator whose first interval starts at `now` with no bytes.
void reset_rate(RateEstimator& estimator, double now);
// Updates the rate with the byte count read at `now` (seconds).
void rate_sample(RateEstimator& estimator, double now, uint64_t bytes);

Remaining time_remaining(RemainingEstimator& estimator, double now, uint64_t remaining_bytes,
                         std::optional<double> rate);

}  // namespace sw
