// The one queue every worker reports to the window through. A worker appends
// under the lock and then wakes the window; the window takes everything at
// once, oldest first. Workers hold the queue by shared ownership, so one that
// outlives the window still has a queue to append to, and waking after the
// window is gone does nothing.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "ui/messages.h"

namespace sw {

class MessageQueue final : public MessageSink {
  public:
    using Waker = std::function<void()>;

    void send(UiMessage message) override;
    // Everything queued so far, oldest first.
    std::vector<UiMessage> drain();

    // Called after every append (e.g. posting the window's wake-up message).
    void set_waker(Waker waker);
    // After this returns the waker is never called again.
    void clear_waker();

    // Waits until something is queued or `limit` passes (tests and tools
    // that drive the window logic without a message loop).
    bool wait_for_message(std::chrono::milliseconds limit);

  private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<UiMessage> messages_;
    std::mutex waker_mutex_;
    Waker waker_;
};

}  // namespace sw
