// A gate that a fake call waits at, to stand for a call that hangs in the
// system, until the test opens it (at the latest at its end, so that
// abandoned threads finish).
#pragma once

#include <condition_variable>
#include <mutex>

namespace sw::test {

class Gate {
  public:
    void wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [&] { return open_; });
    }
    void open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        cv_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool open_ = false;
};

}  // namespace sw::test
