// A clock that only moves when the code under test sleeps or waits. Sleeps are
// recorded; a bounded wait whose condition does not hold within a short real
// grace period counts as having run out.
#pragma once

#include <chrono>
#include <mutex>
#include <vector>

#include "core/clock.h"

namespace sw::test {

class FakeClock final : public Clock {
  public:
    TimePoint now() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return TimePoint{} + elapsed_;
    }
    void sleep_for(std::chrono::milliseconds d) override {
        std::lock_guard<std::mutex> lock(mutex_);
        sleeps_.push_back(d);
        elapsed_ += d;
    }
    bool wait_for(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                  std::chrono::milliseconds d, const std::function<bool()>& done) override {
        if (cv.wait_for(lock, std::min<std::chrono::milliseconds>(d, grace_), done)) return true;
        std::lock_guard<std::mutex> own(mutex_);
        elapsed_ += d;
        return false;
    }
    void advance(std::chrono::milliseconds d) {
        std::lock_guard<std::mutex> lock(mutex_);
        elapsed_ += d;
    }
    std::chrono::milliseconds elapsed() {
        std::lock_guard<std::mutex> lock(mutex_);
        return elapsed_;
    }
    std::vector<std::chrono::milliseconds> sleeps() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sleeps_;
    }

  private:
    std::mutex mutex_;
    std::chrono::milliseconds elapsed_{0};
    std::chrono::milliseconds grace_{200};
    std::vector<std::chrono::milliseconds> sleeps_;
};

}  // namespace sw::test
