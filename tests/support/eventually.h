// Waiting in real time for something that happens on a thread of its own.
// The ceiling only keeps a broken test from hanging; how long a wait takes is
// never a verdict, so it is far beyond what any step takes on a busy machine.
#pragma once

#include <chrono>
#include <thread>

namespace sw::test {

inline constexpr std::chrono::seconds kHangGuard{60};

// Waits until `done` holds; false only when the ceiling passed first.
template <class Done>
bool eventually(Done done, std::chrono::milliseconds ceiling = kHangGuard) {
    const auto until = std::chrono::steady_clock::now() + ceiling;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= until) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace sw::test
