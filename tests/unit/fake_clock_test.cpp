// The fake clock that the time-limited steps are tested with: a bounded wait
// ends on its condition or on the clock reaching its end, never on real time,
// so that a slow thread on a busy machine is not taken for a hung one.
#include "support/fake_clock.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "runtime/thread.h"
#include "support/gate.h"

namespace sw {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(FakeClock, ASlowAnswerIsNoTimeOut) {
    test::FakeClock clock;
    auto gate = std::make_shared<test::Gate>();
    std::thread opener([gate] {
        // Real time passes while the step waits; only the clock could end the wait.
        std::this_thread::sleep_for(milliseconds(500));
        gate->open();
    });
    auto r = run_with_time_limit(
        "drive identification", 30,
        [gate] {
            gate->wait();
            return 7;
        },
        clock);
    opener.join();
    ASSERT_TRUE(r) << r.error();
    EXPECT_EQ(*r, 7);
    EXPECT_EQ(clock.elapsed(), milliseconds(0));
}

// A wait on a thread of its own, as the write's heartbeat waits beside the
// job: it ends when the clock reaches its end or when it is told to stop.
struct Waiting {
    Waiting(test::FakeClock& clock, milliseconds limit) {
        thread = std::thread([this, &clock, limit] {
            std::unique_lock<std::mutex> lock(mutex);
            held = clock.wait_for(lock, cv, limit, [this] { return stop; });
            ended_at = clock.elapsed();
        });
    }
    ~Waiting() { finish(); }
    // Waits for the thread to end by itself.
    void join() { thread.join(); }
    // Tells it to stop, then waits for it.
    void finish() {
        if (!thread.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(mutex);
            stop = true;
        }
        cv.notify_all();
        thread.join();
    }
    std::mutex mutex;
    std::condition_variable cv;
    bool stop = false;
    bool held = false;
    milliseconds ended_at{0};
    std::thread thread;
};

TEST(FakeClock, AHangRunsOutTheWaitOfItsOwnLimit) {
    test::FakeClock clock;
    Waiting beside(clock, milliseconds(250));
    auto gate = std::make_shared<test::Gate>(clock, seconds(60));
    auto r = run_with_time_limit(
        "volume enumeration", 60,
        [gate] {
            gate->wait();
            return 1;
        },
        clock);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), "volume enumeration did not finish within 60 s");
    EXPECT_EQ(clock.elapsed(), seconds(60));
    gate->open();

    // A wait that nothing answers ends exactly when the clock reaches its end.
    Waiting step(clock, milliseconds(1000));
    clock.expire_wait(milliseconds(1000));
    step.join();
    EXPECT_FALSE(step.held);
    EXPECT_EQ(step.ended_at, seconds(61));
}

}  // namespace
}  // namespace sw
