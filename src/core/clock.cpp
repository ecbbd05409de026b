#include "core/clock.h"

#include <thread>

namespace sw {
namespace {

class RealClock final : public Clock {
  public:
    TimePoint now() override { return std::chrono::steady_clock::now(); }
    void sleep_for(std::chrono::milliseconds d) override { std::this_thread::sleep_for(d); }
    bool wait_for(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                  std::chrono::milliseconds d, const std::function<bool()>& done) override {
        return cv.wait_for(lock, d, done);
    }
};

}  // namespace

Clock& real_clock() {
    static RealClock clock;
    return clock;
}

}  // namespace sw
