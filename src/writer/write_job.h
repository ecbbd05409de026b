// Everything between a confirmed start (or the headless "--write") and the
// final report: making sure the drive is still the chosen one and still
// allowed, taking it away from the file systems, proving without changing
// anything that it accepts writes, opening it raw, running the pipeline,
// releasing it, and (headless) ejecting it.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/clock.h"
#include "core/os_error.h"
#include "core/process.h"
#include "core/result.h"
#include "disk/device_info.h"
#include "disk/eject.h"
#include "disk/facts.h"
#include "disk/health.h"
#include "disk/raw_device.h"
#include "image/image_reader.h"
#include "logging/logger.h"
#include "machine/machine.h"
#include "runtime/thread.h"
#include "writer/job_types.h"

namespace sw {

// Time limits of the side threads, in seconds.
inline constexpr unsigned kFactsLimitSeconds = 60;
inline constexpr unsigned kVolumesLimitSeconds = 60;
inline constexpr unsigned kOpenLimitSeconds = 30;

// The whole job on the calling thread, on `machine`'s drives, image files
// and clock, logging to the run log. Side threads that may hang in the
// operating system (facts, volume enumeration, opening the drive) are
// abandoned when their time runs out; `machine` stays alive for them.
WriteResult run_write_job(const WriteRequest& request, std::shared_ptr<Machine> machine);

// How a successful write reads: in the run log ("write OK: … eject Ok(())")
// or as the headless mode's result line ("OK total=… eject=Ok(())").
enum class OutcomeStyle { Log, Headless };
std::string ok_line(OutcomeStyle style, uint64_t image_size, const WriteReport& report,
                    double total_seconds = 0);

// "write OK: … eject Ok(())" or "write failed: …": the outcome as the job
// thread logs it.
std::string outcome_line(const WriteRequest& request, const WriteResult& result);

// --- The window's face ----------------------------------------------------

// Called on the job's thread with the job's end; whatever it reaches it must
// own a share of.
using WriteFinishedReporter = std::function<void(WriteResult)>;

// What the window keeps of a running write or restore: the shared record it
// reads on its timer and the flag it sets to stop. The thread that runs the
// job is the window's.
struct WriteJob {
    std::shared_ptr<WriteProgress> progress;
    std::shared_ptr<std::atomic<bool>> stop;
};

// What the window knows when the operator confirms the erase.
struct WriteChoice {
    ImageFacts image;
    std::string image_path;
    DeviceInfo drive;  // as chosen
    bool verify = true;
};

// The request of a confirmed write from the window: the job's own settings,
// a fresh stop flag and progress record, and no eject (a later step there).
WriteRequest window_write_request(const WriteChoice& choice);

// The chosen drive in the current drive list (same number, same identity),
// if it is still there.
std::optional<DeviceInfo> find_chosen_drive(const std::vector<DeviceInfo>& drives,
                                            const DeviceInfo& chosen);

// The job thread's body: keeps the system awake, runs the heartbeat, runs
// the job, logs its outcome, reports it, lets the system sleep again.
void run_job_thread(const WriteRequest& request, const WriteFinishedReporter& finished,
                    std::shared_ptr<Machine> machine);

// Logs "heartbeat: phase {} step {} {}/{} bytes" every 20th check of
// `finished` (a check every 250 ms) until `finished` is set and `wake` is
// notified. Runs on the heartbeat thread.
struct HeartbeatSignal {
    std::mutex mutex;
    std::condition_variable wake;
    bool finished = false;
    void finish() {
        std::lock_guard<std::mutex> lock(mutex);
        finished = true;
        wake.notify_all();
    }
};
void run_heartbeat(const WriteProgress& progress, HeartbeatSignal& signal, Clock& clock);

inline constexpr std::chrono::milliseconds kHeartbeatCheck{250};
inline constexpr int kHeartbeatEvery = 20;

// The body of a job thread: keeps the system awake, runs the heartbeat
// while `job` runs, logs `outcome` of its result (ERROR for a failure),
// hands the result to `finished`; the system may sleep again once the
// guard ends. The heartbeat waits on `clock`.
template <class Job, class Outcome, class Finished>
void run_as_job_thread(const WriteProgress& progress, Clock& clock, Job&& job, Outcome&& outcome,
                       Finished&& finished) {
    platform::KeepAwake awake;
    HeartbeatSignal signal;
    std::thread heartbeat = spawn_thread([&] { run_heartbeat(progress, signal, clock); });
    auto result = job();
    signal.finish();
    heartbeat.join();
    Logger::write(result ? LogLevel::Info : LogLevel::Error, outcome(result));
    finished(std::move(result));
}

}  // namespace sw
