// Every pause and every bounded wait goes through a Clock, so that tests can
// run the 300 ms pauses, 90 s waits and 20 lock attempts of the I/O layer in
// milliseconds with a fake one.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace sw {

class Clock {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~Clock() = default;
    virtual TimePoint now() = 0;
    virtual void sleep_for(std::chrono::milliseconds d) = 0;
    // Waits on `cv` (with `lock` held) until `done()` holds or `d` has passed
    // on this clock. Returns done().
    virtual bool wait_for(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                          std::chrono::milliseconds d, const std::function<bool()>& done) = 0;
};

// The monotonic clock of the machine.
Clock& real_clock();

// Whole milliseconds and seconds between two points of one clock.
inline long long elapsed_ms(Clock::TimePoint from, Clock::TimePoint to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}
inline double elapsed_seconds(Clock::TimePoint from, Clock::TimePoint to) {
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace sw
