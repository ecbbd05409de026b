// The steps every job that erases a drive takes before its first write, and
// in the same order: the drive re-identified and checked against the system
// facts, its volumes locked and dismounted, the drive identified once more,
// opened raw and proven to accept writes without changing it. The write job
// and the restore job share them, so the same faults end them the same way.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/clock.h"
#include "core/result.h"
#include "disk/device_info.h"
#include "disk/raw_device.h"
#include "machine/machine.h"
#include "writer/job_types.h"
#include "writer/progress.h"

namespace sw {

// What the steps need of a job.
struct JobTarget {
    DeviceInfo drive;  // as captured when it was chosen
    IoConfig io;
    // The image the drive is to hold (its path keeps the drive that holds it
    // refused, its size the drives too small): none for a restore.
    std::optional<std::string> image_path;
    std::optional<uint64_t> image_size;
};

class JobSteps {
  public:
    JobSteps(JobTarget target, std::shared_ptr<Machine> machine, WriteProgress& progress,
             const std::atomic<bool>& stop);

    // Logs the job's first line, sets the progress to the first step and
    // starts the job's clock for the prepare lines.
    void start(std::string_view first_line);
    // "prepare +{} ms: {}" at INFO.
    void prepare(std::string_view text);
    bool stopped() const { return stop_.load(std::memory_order_relaxed); }

    // The drive as it is now, if it is still the chosen one and nothing of
    // the running system (nor any other refusal) stands in the way. From
    // here on the steps work with this record (see drive()).
    Result<DeviceInfo, JobError> checked_drive();
    // Every volume of the drive locked and dismounted.
    Result<LockedVolumes, JobError> locked_volumes();
    // The drive, identified once more now that nothing else can reach it,
    // opened for raw transfers.
    Result<RawDevice, JobError> opened_device(size_t locked_count);
    // Whether the drive takes a write at all, before anything on it is erased.
    Result<void, JobError> probe(RawDevice& device);

    // The drive taken for the job: its volumes locked and dismounted, then
    // the device opened raw and proven to accept writes. Both stay held
    // until the value ends; the device goes first.
    struct Taken {
        std::optional<LockedVolumes> locked;
        std::optional<RawDevice> device;
    };
    // locked_volumes, opened_device and probe, in that order, into `taken`.
    Result<void, JobError> take(Taken& taken);
    // Before writing, flushing and verifying: the reason when the drive is no
    // longer the chosen one.
    std::optional<std::string> reidentify(WritePhase phase);

    // The drive as last identified: the chosen record until the first
    // match, then the record that match found. The disk walk knows no drive
    // letters, so the chosen record's letters stay with it.
    const DeviceInfo& drive() const { return drive_; }
    Clock& clock() { return machine_->clock(); }
    Machine& machine() { return *machine_; }

  private:
    // Identifies the drive again and carries the record found.
    Result<DeviceInfo, std::string> match();

    JobTarget target_;
    DeviceInfo drive_;
    std::shared_ptr<Machine> machine_;
    WriteProgress& progress_;
    const std::atomic<bool>& stop_;
    Clock::TimePoint started_{};
};

// A failed lock, open, probe or transfer that says the device is gone.
JobError disconnected(const OsError& error);

}  // namespace sw
