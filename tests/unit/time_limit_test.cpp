#include "runtime/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "support/fake_clock.h"

namespace sw {
namespace {

TEST(TimeLimit, AnswerInTimeIsPassedOn) {
    auto r = run_with_time_limit("quick job", 30, [] { return std::string("done"); });
    ASSERT_TRUE(r);
    EXPECT_EQ(*r, "done");
}

TEST(TimeLimit, ExpiryAbandonsTheThreadWithTheLimitText) {
    test::FakeClock clock;
    auto release = std::make_shared<std::promise<void>>();
    auto gate = release->get_future().share();
    auto r = run_with_time_limit(
        "drive identification", 30,
        [gate] {
            gate.wait();
            return 1;
        },
        clock);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), "drive identification did not finish within 30 s");
    EXPECT_EQ(clock.elapsed(), std::chrono::seconds(30));
    release->set_value();  // the abandoned thread ends on its own; its answer is dropped
}

}  // namespace
}  // namespace sw
