// A list of what happened, in order, that any thread may add to.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace sw::test {

// What happened, in order, from any thread.
class EventLog {
  public:
    void add(std::string event) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(event));
    }
    std::vector<std::string> all() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> events_;
};

}  // namespace sw::test
