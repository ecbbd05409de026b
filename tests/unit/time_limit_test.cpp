#include "runtime/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "core/os_error.h"
#include "support/eventually.h"
#include "support/fake_clock.h"
#include "support/gate.h"
#include "support/log_capture.h"

namespace sw {
namespace {

using std::chrono::milliseconds;
using test::eventually;

TEST(TimeLimit, AnswerInTimeIsPassedOn) {
    auto r = run_with_time_limit(
        "quick job", 30, [] { return std::string("done"); }, real_clock());
    ASSERT_TRUE(r);
    EXPECT_EQ(*r, "done");
}

TEST(TimeLimit, ExpiryAbandonsTheThreadWithTheLimitTextLoggedAtError) {
    test::LogCapture log;
    test::FakeClock clock;
    auto gate = std::make_shared<test::Gate>(clock, std::chrono::seconds(30));
    auto r = run_with_time_limit(
        "drive identification", 30,
        [gate] {
            gate->wait();
            return 1;
        },
        clock);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), "drive identification did not finish within 30 s");
    EXPECT_EQ(clock.elapsed(), std::chrono::seconds(30));
    EXPECT_EQ(log.matching("did not finish"),
              std::vector<std::string>{"ERROR drive identification did not finish within 30 s"});
    gate->open();  // the abandoned thread ends on its own; its answer is dropped
}

// What an abandoned step saw and answered, kept apart from the caller's stack.
struct Probe {
    explicit Probe(test::FakeClock& clock) : gate(clock, std::chrono::seconds(30)) {}
    test::Gate gate;
    std::mutex mutex;
    bool answered = false;
    std::string read_late;      // what the thread read from its captures after the wait
    std::weak_ptr<int> answer;  // the late answer
};

TEST(TimeLimit, AnAbandonedThreadKeepsItsCapturesAliveAndItsLateAnswerIsDropped) {
    test::FakeClock clock;
    auto probe = std::make_shared<Probe>(clock);
    auto captured = std::make_shared<std::string>("the drive's path");
    std::weak_ptr<std::string> captured_alive = captured;
    auto r = run_with_time_limit(
        "opening the drive", 30,
        [probe, captured = std::move(captured)] {
            probe->gate.wait();
            auto answer = std::make_shared<int>(42);  // stands for an opened handle
            std::lock_guard<std::mutex> lock(probe->mutex);
            probe->read_late = *captured;
            probe->answer = answer;
            probe->answered = true;
            return answer;
        },
        clock);
    ASSERT_FALSE(r);
    // The caller has moved on and holds none of it; the thread owns what it uses.
    EXPECT_FALSE(captured_alive.expired());
    probe->gate.open();

    // When the thread ends, its captures and its late answer are released.
    ASSERT_TRUE(eventually([&] { return probe.use_count() == 1; }));
    EXPECT_TRUE(eventually([&] { return captured_alive.expired(); }));
    EXPECT_TRUE(eventually([&] {
        std::lock_guard<std::mutex> lock(probe->mutex);
        return probe->answer.expired();
    }));
    std::lock_guard<std::mutex> lock(probe->mutex);
    EXPECT_TRUE(probe->answered);
    EXPECT_EQ(probe->read_late, "the drive's path");
}

TEST(TimeLimit, MillisecondLimitGivesBackTheStepsOwnErrors) {
    test::LogCapture log;
    {
        // An answer in time, success or failure, is the step's own.
        test::FakeClock clock;
        bool timed_out_asked = false;
        auto timed_out = [&] {
            timed_out_asked = true;
            return message_error("never", kTimedOut);
        };
        auto ok = run_with_time_limit(
            milliseconds(5000), []() -> Result<void, OsError> { return {}; }, timed_out, clock);
        EXPECT_TRUE(ok);
        auto busy = run_with_time_limit(
            milliseconds(5000),
            []() -> Result<void, OsError> { return unexpected(message_error("busy", kInUse)); },
            timed_out, clock);
        ASSERT_FALSE(busy);
        EXPECT_EQ(busy.error().text, "busy");
        EXPECT_TRUE(busy.error().is(kInUse));
        EXPECT_FALSE(timed_out_asked);
        EXPECT_EQ(clock.elapsed(), milliseconds(0));
    }
    {
        // Running out: the step's time-out error, after exactly its limit.
        test::FakeClock clock;
        auto gate = std::make_shared<test::Gate>(clock, milliseconds(5000));
        auto r = run_with_time_limit(
            milliseconds(5000),
            [gate]() -> Result<void, OsError> {
                gate->wait();
                return {};
            },
            [] { return message_error("unmounting /dev/sdz1 timed out after 5000 ms", kTimedOut); },
            clock);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().text, "unmounting /dev/sdz1 timed out after 5000 ms");
        EXPECT_TRUE(r.error().is(kTimedOut));
        EXPECT_EQ(clock.elapsed(), milliseconds(5000));
        gate->open();
    }
    // Such a step says what ran out in its own error; the thread-name text is not logged.
    EXPECT_TRUE(log.matching("did not finish").empty());
}

TEST(WorkerThreads, FinishedJobsAreJoinedAndAHungOneIsLeftToItsShare) {
    auto gate = std::make_shared<test::Gate>();
    auto result = std::make_shared<std::atomic<int>>(0);
    {
        WorkerThreads threads(milliseconds(50));
        for (int i = 0; i < 3; ++i)
            threads.start([result] { ++*result; });
        // The three are joined once they have finished.
        EXPECT_TRUE(eventually([&] { return threads.running() == 0u; }));
        EXPECT_EQ(result->load(), 3);

        // One that hangs in the system, holding a share of what it writes to.
        threads.start([gate, result] {
            gate->wait();
            *result = 42;
        });
        EXPECT_EQ(threads.running(), 1u);
        // Ending the owner waits its grace, then lets the hung job go.
    }
    EXPECT_EQ(result->load(), 3);
    gate->open();  // the job finishes later, on what it still owns
    EXPECT_TRUE(eventually([&] { return result->load() == 42; }));
}

}  // namespace
}  // namespace sw
