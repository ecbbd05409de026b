#include "writer/job_steps.h"

#include "core/text.h"
#include "disk/drives.h"
#include "disk/health.h"
#include "runtime/thread.h"
#include "writer/write_job.h"

namespace sw {

using PKind = PipelineError::Kind;

JobError disconnected(const OsError& error) {
    return JobError::of_pipeline(PipelineError::of(PKind::DeviceDisconnected, error.text));
}

JobSteps::JobSteps(JobTarget target, std::shared_ptr<Machine> machine, WriteProgress& progress,
                   const std::atomic<bool>& stop)
    : target_(std::move(target)),
      drive_(target_.drive),
      machine_(std::move(machine)),
      progress_(progress),
      stop_(stop) {}

void JobSteps::start(std::string_view first_line) {
    Logger::write(LogLevel::Info, first_line);
    progress_.set(0, 0, WritePhase::Preparing);
    progress_.set_step(PrepareStep::Checking);
    started_ = clock().now();
}

void JobSteps::prepare(std::string_view text) {
    long long ms = elapsed_ms(started_, clock().now());
    Logger::write(LogLevel::Info, fmt("prepare +{} ms: {}", ms, text));
}

Result<DeviceInfo, std::string> JobSteps::match() {
    auto found = identify_drive(machine_->disks(), identity_of(drive_));
    if (!found) return found;
    std::vector<char> letters = std::move(drive_.letters);
    drive_ = *found;
    drive_.letters = std::move(letters);
    return found;
}

std::optional<std::string> JobSteps::reidentify(WritePhase phase) {
    Logger::write(LogLevel::Info, fmt("phase {}: re-identifying the drive…", phase_name(phase)));
    auto found = match();
    Logger::write(LogLevel::Info, fmt("phase {}: drive re-identified ({})", phase_name(phase),
                                      found ? "same drive" : "CHANGED"));
    if (!found) return found.error();
    return std::nullopt;
}

Result<DeviceInfo, JobError> JobSteps::checked_drive() {
    prepare("re-identifying the drive…");
    auto drive = match();
    if (!drive) return unexpected(JobError::of(JobError::Kind::IdentityChanged, drive.error()));

    prepare("drive re-identified; gathering system facts…");
    std::optional<std::string> image_path = target_.image_path;
    auto facts = run_with_time_limit(
        "system disk check", kFactsLimitSeconds,
        [disks = machine_->disks(), image_path] { return gather_system_facts(disks, image_path); },
        clock());
    if (!facts) return unexpected(JobError::of(JobError::Kind::Message, facts.error()));

    prepare("system facts gathered");
    auto refusals = refusals_for(*drive, *facts, target_.image_size);
    if (!refusals.empty()) return unexpected(JobError::protected_by(std::move(refusals)));
    return drive_;
}

Result<LockedVolumes, JobError> JobSteps::locked_volumes() {
    prepare("enumerating the drive's volumes…");
    auto volumes = run_with_time_limit(
        std::chrono::seconds(kVolumesLimitSeconds),
        [disks = machine_->disks()]() -> Result<std::vector<VolumeInfo>, JobError> {
            auto listed = disks->enumerate_volumes();
            if (!listed)
                return unexpected(JobError::of(JobError::Kind::Message,
                                               fmt("volume enumeration: {}", listed.error().text)));
            return std::move(*listed);
        },
        [] {
            return JobError::of(JobError::Kind::Message,
                                time_limit_text("volume enumeration", kVolumesLimitSeconds));
        },
        clock());
    if (!volumes) return unexpected(volumes.error());

    auto lock_progress = [&](LockStep step, std::string_view label) {
        if (step == LockStep::Locking) {
            progress_.set_step(PrepareStep::Locking);
            prepare(fmt("locking volume {}", label));
        } else {
            progress_.set_step(PrepareStep::Dismounting);
            prepare(fmt("dismounting volume {}", label));
        }
    };
    auto lock = lock_and_dismount(machine_->disks(), drive_.number, *volumes, lock_progress);
    if (!lock) {
        const OsError& e = lock.error();
        if (e.is(kInUse)) return unexpected(JobError::of(JobError::Kind::InUse, e.text));
        if (e.is(kAccessDenied))
            return unexpected(JobError::of(JobError::Kind::AccessDenied, e.text));
        if (e.is(kDisconnected)) return unexpected(disconnected(e));
        return unexpected(JobError::of(JobError::Kind::Message, fmt("lock volumes: {}", e.text)));
    }
    return std::move(*lock);
}

Result<RawDevice, JobError> JobSteps::opened_device(size_t locked_count) {
    prepare(fmt("locked and dismounted {} volume(s); re-identifying the drive…", locked_count));
    progress_.set_step(PrepareStep::Checking);
    if (auto again = match(); !again)
        return unexpected(JobError::of(JobError::Kind::IdentityChanged, again.error()));

    prepare("drive re-identified after locking; opening the raw device…");
    progress_.set_step(PrepareStep::Opening);
    const uint32_t number = drive_.number;
    const uint32_t sector = drive_.logical_sector;
    const uint64_t size = drive_.size;
    const IoConfig io = target_.io;
    return run_with_time_limit(
        std::chrono::seconds(kOpenLimitSeconds),
        [disks = machine_->disks(), number, sector, size, io]() -> Result<RawDevice, JobError> {
            auto device = disks->open_raw(number, sector, size, io);
            if (device) return std::move(*device);
            const OsError& e = device.error();
            if (e.is(kAccessDenied))
                return unexpected(JobError::of(JobError::Kind::AccessDenied, e.text));
            if (e.is(kDisconnected)) return unexpected(disconnected(e));
            return unexpected(JobError::of(JobError::Kind::Message, fmt("open disk: {}", e.text)));
        },
        [] {
            return JobError::of(JobError::Kind::Message,
                                time_limit_text("opening the drive", kOpenLimitSeconds));
        },
        clock());
}

Result<void, JobError> JobSteps::probe(RawDevice& device) {
    prepare("testing that the drive accepts writes (nothing is changed)…");
    auto probe = [&] {
        // A stop while a probe request hangs cancels it.
        auto watching = device.stop_on(stop_);
        return probe_writable(machine_->disks(), device);
    }();
    if (!probe && probe.error().error.is(kStopped))
        return unexpected(JobError::of_pipeline(PipelineError::of(PKind::Cancelled)));
    if (probe) {
        prepare(fmt("write test passed (read {} ms, write-back {} ms)", probe->read_ms,
                    probe->write_ms));
        return {};
    }
    const WriteProbeFailure& f = probe.error();
    prepare(fmt("write test FAILED at {}: {}", f.step, f.error.text));
    if (f.error.is(kDisconnected)) return unexpected(disconnected(f.error));
    std::optional<char> letter;
    if (!drive_.letters.empty()) letter = drive_.letters.front();
    std::string diagnosis = filesystem_diagnosis(machine_->disks(), letter);
    prepare(fmt("filesystem write test: {}", diagnosis));
    return unexpected(
        JobError::of(JobError::Kind::NotWritable,
                     fmt("{}: {}; filesystem write test: {}", f.step, f.error.text, diagnosis)));
}

Result<void, JobError> JobSteps::take(Taken& taken) {
    auto lock = locked_volumes();
    if (!lock) return unexpected(lock.error());
    taken.locked.emplace(std::move(*lock));
    auto opened = opened_device(taken.locked->size());
    if (!opened) return unexpected(opened.error());
    taken.device.emplace(std::move(*opened));
    return probe(*taken.device);
}

}  // namespace sw
