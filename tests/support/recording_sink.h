// Keeps what a worker reports, for tests. `reporter()` is the callback to
// hand the worker; it shares the record, so it may outlive the recorder.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "support/eventually.h"

namespace sw::test {

template <class Report>
class Recorder {
  public:
    std::function<void(Report)> reporter() const {
        return [shared = shared_](Report report) {
            std::lock_guard<std::mutex> lock(shared->mutex);
            shared->reports.push_back(std::move(report));
            shared->cv.notify_all();
        };
    }
    // Waits (real time) until at least n reports arrived; false only when
    // the ceiling against a hang passed first.
    bool wait_for_count(size_t n) const {
        std::unique_lock<std::mutex> lock(shared_->mutex);
        return shared_->cv.wait_for(lock, kHangGuard, [&] { return shared_->reports.size() >= n; });
    }
    std::vector<Report> messages() const {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        return shared_->reports;
    }

  private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable cv;
        std::vector<Report> reports;
    };
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

}  // namespace sw::test
