// Giving a drive back to everyday use: one partition over the whole drive
// with an empty FAT32 or exFAT file system in it, written with the same care
// as an image. The drive is re-identified, checked against the system facts,
// locked, opened raw and proven to accept writes exactly as for a write; then
// the formatter's sectors are written, flushed and read back, and only then
// the partition table, so that a restore that fails at any point leaves no
// table claiming a file system that is not there.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/result.h"
#include "disk/device_info.h"
#include "disk/raw_device.h"
#include "format/format.h"
#include "writer/job_types.h"
#include "writer/progress.h"
#include "writer/write_job.h"

namespace sw {

struct RestoreRequest {
    DeviceInfo drive;  // as captured when it was chosen
    IoConfig io = write_io_config();
    uint32_t volume_serial = 0;  // the new file system's serial number
    // Shared with the observers.
    std::shared_ptr<WriteProgress> progress = std::make_shared<WriteProgress>();
    std::shared_ptr<std::atomic<bool>> stop = std::make_shared<std::atomic<bool>>(false);
};

struct RestoreReport {
    format::FileSystem fs = format::FileSystem::Fat32;
    uint32_t cluster_bytes = 0;
    uint64_t capacity_bytes = 0;  // the file system's data area: what users see as its size
    uint64_t bytes_written = 0;   // everything the job wrote, the old tables' clearing included
    double write_seconds = 0;
    double flush_seconds = 0;
    double verify_seconds = 0;
    // Why the system could not be made to read the new partition table (the
    // drive is restored all the same; unplugging it shows the partition).
    std::optional<std::string> refresh_failure;
};

using RestoreResult = Result<RestoreReport, JobError>;

// The whole job on the calling thread.
RestoreResult run_restore_job(const RestoreRequest& request, std::shared_ptr<Machine> machine);

// "exFAT, 128 KiB clusters, 59.6 GiB": what a restored drive now holds.
std::string restored_summary(const RestoreReport& report);

// "restore OK: …" or "restore failed: …": the outcome as the job thread logs it.
std::string restore_outcome_line(const RestoreResult& result);

// A volume serial number from the time of day, as systems make them: two
// formats a second apart get different ones.
uint32_t volume_serial_at(std::chrono::system_clock::time_point when);

// --- The window's face ----------------------------------------------------

using RestoreFinishedReporter = std::function<void(RestoreResult)>;

// The request of a confirmed restore from the window: a fresh stop flag
// and progress record, and a volume serial from the time of day. The window
// keeps them as its WriteJob and starts run_restore_thread on a thread of
// its own, as it does for a write, once it has found the chosen drive in the
// current drive list (find_chosen_drive).
RestoreRequest window_restore_request(const DeviceInfo& chosen);

// The job thread's body: keeps the system awake, runs the heartbeat, runs
// the restore, logs its outcome, reports it, lets the system sleep again.
void run_restore_thread(const RestoreRequest& request, const RestoreFinishedReporter& finished,
                        std::shared_ptr<Machine> machine);

}  // namespace sw
