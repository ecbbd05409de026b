#include "http/request_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "support/gate.h"

namespace sw {
namespace {

using namespace std::chrono_literals;

// Waits for `done` to hold; false only when a minute passes (a hang).
template <class Fn>
bool eventually(Fn done) {
    const auto ceiling = std::chrono::steady_clock::now() + 60s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > ceiling) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(RequestThread, StepsRunInTurnOnOneThreadOfTheirOwnUntilTheFlagIsSet) {
    RequestThread thread;
    std::atomic<bool> cancel{false};
    std::thread::id first, second;
    auto a = thread.run<int>(
        [&]() -> Result<int, HttpError> {
            first = std::this_thread::get_id();
            return 7;
        },
        cancel);
    auto b = thread.run<int>(
        [&]() -> Result<int, HttpError> {
            second = std::this_thread::get_id();
            return unexpected(HttpError::network_text("refused"));
        },
        cancel);
    ASSERT_TRUE(a);
    EXPECT_EQ(*a, 7);
    ASSERT_FALSE(b);
    EXPECT_EQ(b.error().message(), "network: refused");
    EXPECT_EQ(first, second);
    EXPECT_NE(first, std::this_thread::get_id());

    // Once the flag is set, no step starts.
    cancel = true;
    bool ran = false;
    auto late = thread.run<int>(
        [&]() -> Result<int, HttpError> {
            ran = true;
            return 1;
        },
        cancel);
    ASSERT_FALSE(late);
    EXPECT_EQ(late.error().kind, HttpErrorKind::Cancelled);
    EXPECT_FALSE(ran);
}

TEST(RequestThread, CancelEndsTheWaitForAStepThatHangsAndTheStepFinishesOnItsOwn) {
    auto gate = std::make_shared<test::Gate>();
    auto state = std::make_shared<std::atomic<int>>(0);  // what the step owns
    std::atomic<bool> cancel{false};
    {
        RequestThread thread;
        std::thread stopper([&] {
            EXPECT_TRUE(eventually([&] { return state->load() == 1; }));
            cancel = true;
        });
        auto r = thread.run<int>(
            [gate, state]() -> Result<int, HttpError> {
                *state = 1;
                gate->wait();  // a call that waits on a silent server
                *state = 2;
                return 1;
            },
            cancel);
        stopper.join();
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().kind, HttpErrorKind::Cancelled);

        // Once cancelled, nothing more runs on the request.
        cancel = false;
        bool ran = false;
        auto later = thread.run<int>(
            [&]() -> Result<int, HttpError> {
                ran = true;
                return 2;
            },
            cancel);
        ASSERT_FALSE(later);
        EXPECT_EQ(later.error().kind, HttpErrorKind::Cancelled);
        EXPECT_FALSE(ran);
    }  // the thread is let go of while its step still waits
    EXPECT_EQ(state->load(), 1);
    gate->open();
    EXPECT_TRUE(eventually([&] { return state->load() == 2; }));
}

}  // namespace
}  // namespace sw
