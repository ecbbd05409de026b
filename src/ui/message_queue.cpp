#include "ui/message_queue.h"

namespace sw {

void MessageQueue::send(UiMessage message) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(std::move(message));
    }
    arrived_.notify_all();
    std::lock_guard<std::mutex> lock(waker_mutex_);
    if (waker_) waker_();
}

std::vector<UiMessage> MessageQueue::drain() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<UiMessage> out;
    out.swap(messages_);
    return out;
}

void MessageQueue::set_waker(Waker waker) {
    std::lock_guard<std::mutex> lock(waker_mutex_);
    waker_ = std::move(waker);
}

void MessageQueue::clear_waker() {
    std::lock_guard<std::mutex> lock(waker_mutex_);
    waker_ = nullptr;
}

bool MessageQueue::wait_for_message(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, limit, [&] { return !messages_.empty(); });
}

}  // namespace sw
