// The blocking steps of one request, run on a thread of their own so that the
// caller stops waiting the moment the request is cancelled. Some HTTPS stacks
// cannot be interrupted inside a call: under wine a synchronous WinHTTP call
// waits out a server that never answers, whatever becomes of its handles.
// Once cancelled, the thread is let go of and finishes its step on its own,
// so every step must own (share) everything it touches.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "core/result.h"
#include "http/http_error.h"

namespace sw {

class RequestThread {
  public:
    // How often a waiting caller looks at the cancel flag.
    static constexpr std::chrono::milliseconds kCancelPoll{50};

    RequestThread();
    // Joins the thread when it is idle; lets go of it when a step was cancelled.
    ~RequestThread();
    RequestThread(const RequestThread&) = delete;
    RequestThread& operator=(const RequestThread&) = delete;

    // Runs `step` on the thread and returns its answer, or cancelled once
    // `cancel` is seen set. After a cancel every later step is cancelled
    // without running.
    template <class T>
    Result<T, HttpError> run(std::function<Result<T, HttpError>()> step,
                             const std::atomic<bool>& cancel) {
        auto answer = std::make_shared<std::optional<Result<T, HttpError>>>();
        bool finished =
            run_step([step = std::move(step), answer] { answer->emplace(step()); }, cancel);
        if (!finished) return unexpected(HttpError::cancelled());
        return std::move(**answer);
    }

  private:
    // True when the step ran to its end; false when the cancel came first.
    bool run_step(std::function<void()> step, const std::atomic<bool>& cancel);

    struct Shared;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
    bool abandoned_ = false;
};

}  // namespace sw
