// Stops from outside the program: Ctrl+C, a terminal that hangs up, a polite
// kill. While a StopOnInterrupt lives, such a request sets its stop flag
// instead of ending the process, so that a running write ends as cancelled,
// releases the drive and reports how it ended. Linux: SIGINT, SIGTERM and
// SIGHUP. Windows: Ctrl+C and Ctrl+Break in the console.
#pragma once

#include <atomic>
#include <memory>

namespace sw::platform {

class StopOnInterrupt {
  public:
    explicit StopOnInterrupt(std::shared_ptr<std::atomic<bool>> stop);
    ~StopOnInterrupt();
    StopOnInterrupt(const StopOnInterrupt&) = delete;
    StopOnInterrupt& operator=(const StopOnInterrupt&) = delete;

  private:
    std::shared_ptr<std::atomic<bool>> stop_;
};

}  // namespace sw::platform
