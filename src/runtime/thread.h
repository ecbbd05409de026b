// Worker threads and time-limited steps. Failing to start a thread is one of
// the two reasons the program stops on purpose; every other failure is a value.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "core/clock.h"
#include "core/result.h"

namespace sw {

// Logs the text at ERROR, writes it to standard error and ends the process.
[[noreturn]] void fatal(std::string_view text);

template <class Fn>
std::thread spawn_thread(Fn&& fn) {
    try {
        return std::thread(std::forward<Fn>(fn));
    } catch (const std::system_error&) {
        fatal("failed to spawn thread");
    }
}

// "{} did not finish within {} s", also logged at ERROR.
std::string time_limit_text(std::string_view thread_name, unsigned seconds);

namespace detail {

// The one place a thread is let go of: it then finishes on its own, holding
// only what it shares ownership of.
inline void abandon(std::thread& thread) {
    thread.detach();
}

// Runs `fn` on a thread of its own and waits at most `limit` on `clock` for
// its answer; nothing when the time runs out. The thread owns `fn` (and with
// it everything `fn` captured) and shares the channel with the caller, so an
// abandoned thread finishes on its own with all it uses still alive, and its
// late answer is dropped when the last owner of the channel lets go.
template <class Fn>
auto answer_within(std::chrono::milliseconds limit, Fn fn, Clock& clock)
    -> std::optional<decltype(fn())> {
    using T = decltype(fn());
    struct Channel {
        std::mutex mutex;
        std::condition_variable cv;
        std::optional<T> answer;
    };
    auto channel = std::make_shared<Channel>();
    std::thread worker = spawn_thread([channel, fn = std::move(fn)]() mutable {
        T value = fn();
        std::lock_guard<std::mutex> lock(channel->mutex);
        channel->answer.emplace(std::move(value));
        channel->cv.notify_all();
    });

    std::unique_lock<std::mutex> lock(channel->mutex);
    bool answered =
        clock.wait_for(lock, channel->cv, limit, [&] { return channel->answer.has_value(); });
    lock.unlock();
    // Only an abandoned thread is detached: a thread that answered is joined
    // (it is about to end), so threads do not pile up ending while new ones
    // start, which the mingw thread library under wine does not always survive.
    if (!answered) {
        abandon(worker);
        return std::nullopt;
    }
    worker.join();
    return std::move(channel->answer);
}

}  // namespace detail

template <class T>
inline constexpr bool is_result = false;
template <class T, class E>
inline constexpr bool is_result<Result<T, E>> = true;

// Runs `fn` on a thread of its own and waits at most `seconds` for its answer.
// When the time runs out the thread is abandoned (it finishes on its own and
// its late answer is dropped) and the error is the time-limit text. For a
// step that answers a plain value; a step that can fail itself takes the
// form below, so that its caller sees one error, never a Result in a Result.
template <class Fn>
auto run_with_time_limit(std::string_view thread_name, unsigned seconds, Fn fn, Clock& clock)
    -> Result<decltype(fn()), std::string> {
    static_assert(!is_result<decltype(fn())>, "a step that can fail takes the form with timed_out");
    auto answer = detail::answer_within(std::chrono::seconds(seconds), std::move(fn), clock);
    if (!answer) return unexpected(time_limit_text(thread_name, seconds));
    return std::move(*answer);
}

// The same for a step whose own errors and time-out error are of one kind:
// `fn` returns a Result, and when `limit` runs out the error is `timed_out()`
// (which says, and logs if it must, what ran out of time).
template <class Fn, class TimedOut>
auto run_with_time_limit(std::chrono::milliseconds limit, Fn fn, TimedOut timed_out, Clock& clock)
    -> decltype(fn()) {
    auto answer = detail::answer_within(limit, std::move(fn), clock);
    if (!answer) return unexpected(timed_out());
    return std::move(*answer);
}

// The threads one owner starts for jobs that report on their own (the
// window's workers). Threads that have finished are joined as new ones
// start. When the owner ends, it waits at most `grace` for the rest and lets
// go of those still running: a job that hangs in the operating system must
// not hold the program open, and each job owns a share of all it touches.
class WorkerThreads {
  public:
    explicit WorkerThreads(std::chrono::milliseconds grace = std::chrono::seconds(2))
        : grace_(grace) {}
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;
    ~WorkerThreads() {
        std::vector<Entry> entries;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            entries.swap(entries_);
        }
        const auto deadline = std::chrono::steady_clock::now() + grace_;
        for (auto& e : entries) {
            while (!e.done->load() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (e.done->load())
                e.thread.join();
            else
                detail::abandon(e.thread);
        }
    }

    template <class Fn>
    void start(Fn fn) {
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::thread thread = spawn_thread([fn = std::move(fn), done]() mutable {
            fn();
            done->store(true);
        });
        std::lock_guard<std::mutex> lock(mutex_);
        reap();
        entries_.push_back(Entry{std::move(thread), std::move(done)});
    }

    // Threads started and not yet joined (tests).
    size_t running() {
        std::lock_guard<std::mutex> lock(mutex_);
        reap();
        return entries_.size();
    }

  private:
    struct Entry {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    void reap() {
        for (auto it = entries_.begin(); it != entries_.end();) {
            if (it->done->load()) {
                it->thread.join();  // it has returned from its job: about to end
                it = entries_.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::chrono::milliseconds grace_;
    std::mutex mutex_;
    std::vector<Entry> entries_;
};

}  // namespace sw
