#include "writer/job_steps.h"

#include "core/text.h"
#include "disk/drives.h"
#include "runtime/thread.h"
#include "writer/write_job.h"

namespace sw {

using PKind = PipelineError::Kind;

JobError disconnected(const OsError& error) {
    return JobError::of_pipeline(PipelineError::of(PKind::DeviceDisconnected, error.text));
}

JobSteps::JobSteps(JobTarget target, std::shared_ptr<WriteSystem> system, WriteProgress& progress,
                   const std::atomic<bool>& stop)
    : target_(std::move(target)), system_(std::move(system)), progress_(progress), stop_(stop) {}

void JobSteps::start(std::string_view first_line) {
    system_->log(LogLevel::Info, first_line);
    progress_.set(0, 0, WritePhase::Preparing);
    progress_.set_step(PrepareStep::Checking);
    started_ = system_->clock().now();
}

void JobSteps::prepare(std::string_view text) {
    long long ms = elapsed_ms(started_, system_->clock().now());
    system_->log(LogLevel::Info, fmt("prepare +{} ms: {}", ms, text));
}

std::optional<std::string> JobSteps::reidentify(WritePhase phase) {
    system_->log(LogLevel::Info, fmt("phase {}: re-identifying the drive…", phase_name(phase)));
    auto found = system_->identify_drive(identity_of(target_.drive));
    system_->log(LogLevel::Info, fmt("phase {}: drive re-identified ({})", phase_name(phase),
                                     found ? "same drive" : "CHANGED"));
    if (!found) return found.error();
    return std::nullopt;
}

Result<DeviceInfo, JobError> JobSteps::checked_drive() {
    prepare("re-identifying the drive…");
    auto drive = system_->identify_drive(identity_of(target_.drive));
    if (!drive) return unexpected(JobError::of(JobError::Kind::IdentityChanged, drive.error()));

    prepare("drive re-identified; gathering system facts…");
    std::optional<std::string> image_path = target_.image_path;
    auto facts = run_with_time_limit(
        "system disk check", kFactsLimitSeconds,
        [system = system_, image_path] { return system->gather_system_facts(image_path); },
        system_->clock());
    if (!facts) return unexpected(JobError::of(JobError::Kind::Message, facts.error()));

    prepare("system facts gathered");
    auto refusals = refusals_for(*drive, *facts, target_.image_size);
    if (!refusals.empty()) return unexpected(JobError::protected_by(std::move(refusals)));
    return std::move(*drive);
}

Result<LockedVolumes, JobError> JobSteps::locked_volumes() {
    prepare("enumerating the drive's volumes…");
    auto volumes = run_with_time_limit(
        "volume enumeration", kVolumesLimitSeconds,
        [system = system_] { return system->enumerate_volumes(); }, system_->clock());
    if (!volumes) return unexpected(JobError::of(JobError::Kind::Message, volumes.error()));
    if (!*volumes)
        return unexpected(JobError::of(JobError::Kind::Message,
                                       fmt("volume enumeration: {}", volumes->error().text)));

    auto lock_progress = [&](LockStep step, std::string_view label) {
        if (step == LockStep::Locking) {
            progress_.set_step(PrepareStep::Locking);
            prepare(fmt("locking volume {}", label));
        } else {
            progress_.set_step(PrepareStep::Dismounting);
            prepare(fmt("dismounting volume {}", label));
        }
    };
    auto lock = system_->lock_and_dismount(target_.drive.number, **volumes, lock_progress);
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
    auto again = system_->identify_drive(identity_of(target_.drive));
    if (!again) return unexpected(JobError::of(JobError::Kind::IdentityChanged, again.error()));

    prepare("drive re-identified after locking; opening the raw device…");
    progress_.set_step(PrepareStep::Opening);
    const uint32_t number = again->number;
    const uint32_t sector = again->logical_sector;
    const uint64_t size = again->size;
    const IoConfig io = target_.io;
    auto opened = run_with_time_limit(
        "opening the drive", kOpenLimitSeconds,
        [system = system_, number, sector, size, io] {
            return system->open_raw(number, sector, size, io);
        },
        system_->clock());
    if (!opened) return unexpected(JobError::of(JobError::Kind::Message, opened.error()));
    if (!*opened) {
        const OsError& e = opened->error();
        if (e.is(kAccessDenied))
            return unexpected(JobError::of(JobError::Kind::AccessDenied, e.text));
        if (e.is(kDisconnected)) return unexpected(disconnected(e));
        return unexpected(JobError::of(JobError::Kind::Message, fmt("open disk: {}", e.text)));
    }
    return std::move(**opened);
}

Result<void, JobError> JobSteps::probe(RawDevice& device) {
    prepare("testing that the drive accepts writes (nothing is changed)…");
    auto probe = [&] {
        // A stop while a probe request hangs cancels it.
        auto watching = device.stop_on(stop_);
        return system_->probe_writable(device);
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
    if (!target_.drive.letters.empty()) letter = target_.drive.letters.front();
    std::string diagnosis = system_->filesystem_diagnosis(letter);
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
