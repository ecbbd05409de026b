// A gate that a fake call waits at, to stand for a call that hangs in the
// system, until the test opens it (at the latest at its end, so that
// abandoned threads finish).
//
// A gate made with a fake clock and a limit stands for a call that hangs past
// the time limit its caller waits on that clock: each call that arrives first
// runs that wait out (FakeClock::expire_wait), as real time would, then holds.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "support/fake_clock.h"

namespace sw::test {

class Gate {
  public:
    Gate() = default;
    Gate(FakeClock& clock, std::chrono::milliseconds limit) : clock_(&clock), limit_(limit) {}

    void wait() {
        // Once open, the test may have ended and its clock with it.
        if (clock_ && !is_open()) clock_->expire_wait(limit_);
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [&] { return open_; });
    }
    void open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        cv_.notify_all();
    }

  private:
    bool is_open() {
        std::lock_guard<std::mutex> lock(mutex_);
        return open_;
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    bool open_ = false;
    FakeClock* clock_ = nullptr;
    std::chrono::milliseconds limit_{0};
};

}  // namespace sw::test
