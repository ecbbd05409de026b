#include "ui/estimators.h"

#include <algorithm>
#include <cmath>

namespace sw {

void reset_rate(RateEstimator& e, double now) {
    e = RateEstimator{};
    e.last_time = now;
}

void rate_sample(RateEstimator& e, double now, uint64_t bytes) {
    double elapsed = now - e.last_time;
    if (elapsed < 0.05) return;
    double delta = bytes >= e.last_bytes ? static_cast<double>(bytes - e.last_bytes) : 0.0;
    double sample = delta / elapsed;
    e.last_bytes = bytes;
    e.last_time = now;
    if (!e.has_value) {
        e.rate = sample;
        e.has_value = true;
    } else {
        e.rate += (sample - e.rate) * (1 - std::exp(-elapsed / 2.5));
    }
}

Remaining time_remaining(RemainingEstimator& e, double now, uint64_t remaining_bytes,
                         std::optional<double> rate) {
    if (rate && *rate > 1) {
        double raw = static_cast<double>(remaining_bytes) / *rate;
        double value = raw;
        if (e.has_value) {
            double projected = std::max(0.0, e.estimate - std::max(0.0, now - e.last_update));
            if (std::abs(raw - projected) <= std::max(0.15 * projected, 3.0)) value = projected;
        }
        e.estimate = value;
        e.last_update = now;
        e.has_value = true;
    } else if (!e.has_value) {
        return {};
    }
    double s = e.estimate;
    if (s > 7200) return {};
    if (s < 4) return {Remaining::Finishing, 0};
    double shown;
    if (s < 20) {
        shown = std::round(s);
    } else if (s < 120) {
        shown = std::round(s / 5) * 5;
    } else {
        shown = std::round(s / 30) * 30;
    }
    return {Remaining::Seconds, static_cast<uint64_t>(shown)};
}

}  // namespace sw
