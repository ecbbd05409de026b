#include "http/request_thread.h"

#include <condition_variable>
#include <mutex>

#include "runtime/thread.h"

namespace sw {

namespace {

// Both sides look for the other's answer for a short while before they
// sleep: a step that ends at once (a read of what has already arrived) then
// costs no wake-up, and under wine a wake-up is a round trip through its
// server that would cost more than the read.
constexpr int kSpins = 200;

template <class Ready>
void spin_until(Ready ready) {
    for (int i = 0; i < kSpins && !ready(); ++i)
        std::this_thread::yield();
}

}  // namespace

struct RequestThread::Shared {
    std::mutex mutex;
    std::condition_variable cv;
    std::function<void()> step;       // the step handed over; taken by the thread
    std::atomic<bool> posted{false};  // a step waits to be taken
    std::atomic<bool> done{false};    // the last step taken has ended
    bool quit = false;
};

RequestThread::RequestThread() : shared_(std::make_shared<Shared>()) {
    thread_ = spawn_thread([shared = shared_] {
        while (true) {
            spin_until([&] { return shared->posted.load(); });
            std::unique_lock<std::mutex> lock(shared->mutex);
            shared->cv.wait(lock, [&] { return shared->posted.load() || shared->quit; });
            if (!shared->posted.load()) return;
            std::function<void()> step = std::move(shared->step);
            shared->step = nullptr;
            shared->posted = false;
            lock.unlock();
            step();
            step = nullptr;  // what the step owns is released on this thread
            lock.lock();
            shared->done = true;
            lock.unlock();
            shared->cv.notify_all();
        }
    });
}

RequestThread::~RequestThread() {
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->quit = true;
    }
    shared_->cv.notify_all();
    if (abandoned_)
        detail::abandon(thread_);
    else
        thread_.join();
}

bool RequestThread::run_step(std::function<void()> step, const std::atomic<bool>& cancel) {
    if (abandoned_ || cancel.load()) return false;
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->step = std::move(step);
        shared_->done = false;
        shared_->posted = true;
    }
    shared_->cv.notify_all();
    spin_until([&] { return shared_->done.load(); });
    std::unique_lock<std::mutex> lock(shared_->mutex);
    while (!shared_->cv.wait_for(lock, kCancelPoll, [&] { return shared_->done.load(); })) {
        if (cancel.load()) {
            abandoned_ = true;
            return false;
        }
    }
    return true;
}

}  // namespace sw
