#include "core/interrupt.h"

#include <signal.h>

#include <array>

namespace sw::platform {

namespace {

// A lock-free atomic is the one thing a signal handler may touch.
std::atomic<std::atomic<bool>*> g_stop{nullptr};
static_assert(std::atomic<std::atomic<bool>*>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};
std::array<struct sigaction, 3> g_previous{};

extern "C" void on_signal(int) {
    if (auto* stop = g_stop.load()) stop->store(true);
}

}  // namespace

StopOnInterrupt::StopOnInterrupt(std::shared_ptr<std::atomic<bool>> stop) : stop_(std::move(stop)) {
    g_stop.store(stop_.get());
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < kSignals.size(); ++i)
        sigaction(kSignals[i], &action, &g_previous[i]);
}

StopOnInterrupt::~StopOnInterrupt() {
    for (size_t i = 0; i < kSignals.size(); ++i)
        sigaction(kSignals[i], &g_previous[i], nullptr);
    g_stop.store(nullptr);
}

}  // namespace sw::platform
