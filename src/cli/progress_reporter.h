// The progress lines of "--write": a thread that looks at the job's progress
// record every 2 seconds and prints a line whenever the phase or the bytes
// done have moved.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "core/clock.h"
#include "core/process.h"
#include "runtime/thread.h"
#include "writer/progress.h"

namespace sw {

inline constexpr std::chrono::milliseconds kReportEvery{2000};

// "  Writing 42.0%": the phase name and done × 100 / total (0 when total is 0).
std::string progress_line(WritePhase phase, uint64_t done, uint64_t total);

// Lets the reporter know that the job has returned, so that it takes one
// last look at once instead of after its next pause.
struct ReporterSignal {
    std::mutex mutex;
    std::condition_variable wake;
    bool job_ended = false;
    void end() {
        std::lock_guard<std::mutex> lock(mutex);
        job_ended = true;
        wake.notify_all();
    }
};

// Runs on the reporter thread. Ends after it has printed a Finishing line,
// or after its last look once the job has ended (a failed job never
// finishes).
void run_progress_reporter(const WriteProgress& progress, ReporterSignal& signal, Clock& clock,
                           const std::function<void(std::string_view)>& print);

// Runs `job` on this thread with the system kept awake, while a reporter
// thread prints the progress it records. Returns the job's result and the
// seconds from just before the reporter started to the job's end.
template <class Job>
auto run_reported(const WriteProgress& progress, Clock& clock,
                  const std::function<void(std::string_view)>& print, Job&& job) {
    const auto started = clock.now();
    ReporterSignal signal;
    std::thread reporter =
        spawn_thread([&] { run_progress_reporter(progress, signal, clock, print); });
    auto result = [&] {
        platform::KeepAwake awake;
        return job();
    }();
    const double total = elapsed_seconds(started, clock.now());
    signal.end();
    reporter.join();
    return std::make_pair(std::move(result), total);
}

}  // namespace sw
