// A message sink that keeps what workers send, for tests.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "ui/messages.h"

namespace sw::test {

class RecordingSink final : public MessageSink {
  public:
    void send(UiMessage message) override {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(std::move(message));
        cv_.notify_all();
    }
    // Waits (real time) until at least n messages arrived; false after 10 s.
    bool wait_for_count(size_t n) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return messages_.size() >= n; });
    }
    std::vector<UiMessage> messages() {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<UiMessage> messages_;
};

}  // namespace sw::test
