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

// The job's calls to the world outside it. The machine's implementation
// goes to the drive layer and the image files; tests put fakes here so that
// every step and every failure can be run without hardware.
class WriteSystem {
  public:
    virtual ~WriteSystem() = default;
    // Pauses, time limits and the job's timers.
    virtual Clock& clock() = 0;
    virtual void log(LogLevel level, std::string_view line) = 0;

    virtual Result<DeviceInfo, std::string> identify_drive(const DeviceIdentity& expected) = 0;
    virtual SystemFacts gather_system_facts(const std::optional<std::string>& image_path) = 0;
    virtual Result<std::vector<VolumeInfo>, OsError> enumerate_volumes() = 0;
    virtual Result<LockedVolumes, OsError> lock_and_dismount(uint32_t number,
                                                             const std::vector<VolumeInfo>& volumes,
                                                             const LockProgress& progress) = 0;
    virtual Result<RawDevice, OsError> open_raw(uint32_t number, uint32_t sector, uint64_t size,
                                                const IoConfig& config) = 0;
    virtual Result<WriteProbeTimes, WriteProbeFailure> probe_writable(RawDevice& device) = 0;
    virtual std::string filesystem_diagnosis(std::optional<char> letter) = 0;
    virtual EjectOutcome eject_drive(const DeviceInfo& drive) = 0;
    // Asks the system to read disk `number`'s partition table again; the
    // error names the request ("BLKRRPART: …").
    virtual Result<void, std::string> refresh_layout(uint32_t number) = 0;
    virtual Result<std::unique_ptr<ImageReader>, std::string> open_image(
        const std::string& path) = 0;
};

// The machine's drives and files, logging to the run log.
std::shared_ptr<WriteSystem> machine_write_system(std::shared_ptr<Machine> machine);

// Time limits of the side threads, in seconds.
inline constexpr unsigned kFactsLimitSeconds = 60;
inline constexpr unsigned kVolumesLimitSeconds = 60;
inline constexpr unsigned kOpenLimitSeconds = 30;

// The whole job on the calling thread. Side threads that may hang in the
// operating system (facts, volume enumeration, opening the drive) are
// abandoned when their time runs out; `system` stays alive for them.
WriteResult run_write_job(const WriteRequest& request, std::shared_ptr<WriteSystem> system);

// "write OK: … eject Ok(())" or "write failed: …": the outcome as the job
// thread logs it.
std::string outcome_line(const WriteRequest& request, const WriteResult& result);

// --- The window's face ----------------------------------------------------

// Called on the job's thread with the job's end; whatever it reaches it must
// own a share of.
using WriteFinishedReporter = std::function<void(WriteResult)>;

// What the window keeps of a running job: it reads `progress` on its timer,
// sets `stop` through stop_write, and gets the result through the reporter
// it gave start_write. The window owns the thread.
struct WriteJob {
    std::shared_ptr<WriteProgress> progress;
    std::shared_ptr<std::atomic<bool>> stop;
    std::thread thread;
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

// Starts the job thread for a confirmed write, with a fresh stop flag and
// progress record, unless the chosen drive has left the current drive list
// (then nothing starts and the window shows its error). The window registers
// its shutdown-block reason itself.
std::optional<WriteJob> start_write(const WriteChoice& choice,
                                    const std::vector<DeviceInfo>& current_drives,
                                    WriteFinishedReporter finished,
                                    std::shared_ptr<WriteSystem> system);

// The operator's confirmed stop: logged, then the flag is set; the job ends
// as cancelled at its next check.
void stop_write(WriteJob& job, WriteSystem& system);

// The job thread's body: keeps the system awake, runs the heartbeat, runs
// the job, logs its outcome, reports it, lets the system sleep again.
void run_job_thread(const WriteRequest& request, const WriteFinishedReporter& finished,
                    std::shared_ptr<WriteSystem> system);

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
void run_heartbeat(const WriteProgress& progress, HeartbeatSignal& signal, WriteSystem& system);

inline constexpr std::chrono::milliseconds kHeartbeatCheck{250};
inline constexpr int kHeartbeatEvery = 20;

// The body of a job thread: keeps the system awake, runs the heartbeat
// while `job` runs, logs `outcome` of its result (ERROR for a failure),
// hands the result to `finished`; the system may sleep again once the
// guard ends.
template <class Job, class Outcome, class Finished>
void run_as_job_thread(const WriteProgress& progress, WriteSystem& system, Job&& job,
                       Outcome&& outcome, Finished&& finished) {
    platform::KeepAwake awake;
    HeartbeatSignal signal;
    std::thread heartbeat = spawn_thread([&] { run_heartbeat(progress, signal, system); });
    auto result = job();
    signal.finish();
    heartbeat.join();
    system.log(result ? LogLevel::Info : LogLevel::Error, outcome(result));
    finished(std::move(result));
}

}  // namespace sw
