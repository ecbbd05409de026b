// A clock that only moves when the code under test sleeps or the test moves
// it. Sleeps are recorded and move it at once. A bounded wait ends when its
// condition holds or when the clock has been moved to its end, never because
// real time passed: a slow thread is only slow. A test stands for a call that
// hangs past its caller's time limit with expire_wait() (or a Gate made with
// the clock), which moves the clock to the end of the caller's wait.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "core/clock.h"
#include "support/eventually.h"

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
        move(d);
    }
    bool wait_for(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                  std::chrono::milliseconds d, const std::function<bool()>& done) override {
        Waiter waiter{&cv, d, {}};
        {
            std::lock_guard<std::mutex> own(mutex_);
            waiter.end = elapsed_ + d;
            waiters_.push_back(&waiter);
            changed_.notify_all();
        }
        const auto guard = std::chrono::steady_clock::now() + kHangGuard;
        bool hung = false;
        while (!done() && !reached(waiter.end)) {
            if (std::chrono::steady_clock::now() >= guard) {
                hung = true;
                break;
            }
            // Woken by the code's own notification or by the clock moving;
            // the short period covers a move between the check and the wait.
            cv.wait_for(lock, std::chrono::milliseconds(5));
        }
        {
            std::lock_guard<std::mutex> own(mutex_);
            waiters_.erase(std::find(waiters_.begin(), waiters_.end(), &waiter));
        }
        if (hung)
            ADD_FAILURE() << "a wait of " << d.count() << " ms on the fake clock saw neither its "
                          << "condition nor its end for " << kHangGuard.count() << " s";
        return done();
    }

    // Moves the clock; waits whose end it reaches run out.
    void advance(std::chrono::milliseconds d) {
        std::lock_guard<std::mutex> lock(mutex_);
        move(d);
    }

    // Stands for the time a call that hangs takes: waits until some thread
    // waits `limit` on this clock (with the real ceiling against a hang
    // only), then moves the clock to the end of that wait, which runs out.
    void expire_wait(std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        auto pending = [&]() -> const Waiter* {
            const Waiter* first = nullptr;
            for (const Waiter* w : waiters_)
                if (w->limit == limit && w->end > elapsed_ && (!first || w->end < first->end))
                    first = w;
            return first;
        };
        if (!changed_.wait_for(lock, kHangGuard, [&] { return pending() != nullptr; })) {
            ADD_FAILURE() << "nothing waited " << limit.count() << " ms on the fake clock within "
                          << kHangGuard.count() << " s";
            return;
        }
        move(pending()->end - elapsed_);
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
    struct Waiter {
        std::condition_variable* cv;
        std::chrono::milliseconds limit;
        std::chrono::milliseconds end;
    };

    bool reached(std::chrono::milliseconds end) {
        std::lock_guard<std::mutex> lock(mutex_);
        return elapsed_ >= end;
    }
    // With mutex_ held. A waiter leaves the list (under mutex_) before its
    // wait returns, so every condition variable in it is still alive here.
    void move(std::chrono::milliseconds d) {
        elapsed_ += d;
        for (const Waiter* w : waiters_)
            if (w->end <= elapsed_) w->cv->notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;  // a wait began
    std::chrono::milliseconds elapsed_{0};
    std::vector<std::chrono::milliseconds> sleeps_;
    std::vector<const Waiter*> waiters_;
};

}  // namespace sw::test
