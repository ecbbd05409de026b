#include "writer/write_job.h"

#include <algorithm>

#include "core/text.h"
#include "runtime/thread.h"
#include "image/validation.h"
#include "core/process.h"

namespace sw {

// --- Types -------------------------------------------------------------------

ImageFacts image_facts_of(const ImageInspection& inspection) {
    ImageFacts facts;
    facts.version = inspection.version_text();
    facts.size = inspection.image_size;
    facts.expected_digest = inspection.expected_digest();
    facts.capture = inspection.capture_region();
    facts.signature_block = inspection.block;
    return facts;
}

IoConfig write_io_config() {
    return IoConfig{.no_buffering = true, .write_through = false, .depth = 1, .io_size = 1048576};
}

std::string JobError::text() const {
    switch (kind) {
        case Kind::Pipeline:
            return pipeline.text();
        case Kind::Protected:
            return fmt("drive protected: {}", debug_string(refusals));
        case Kind::IdentityChanged:
            return fmt("drive identity changed: {}", detail);
        case Kind::InUse:
            return fmt("drive in use: {}", detail);
        case Kind::NotWritable:
            return fmt("drive does not accept writes (nothing was erased): {}", detail);
        case Kind::AccessDenied:
            return fmt("access denied: {}", detail);
        case Kind::Message:
            return detail;
    }
    return detail;
}

std::string_view kind_name(JobError::Kind kind) {
    switch (kind) {
        case JobError::Kind::Pipeline:
            return "Pipeline";
        case JobError::Kind::Protected:
            return "Protected";
        case JobError::Kind::IdentityChanged:
            return "IdentityChanged";
        case JobError::Kind::InUse:
            return "InUse";
        case JobError::Kind::NotWritable:
            return "NotWritable";
        case JobError::Kind::AccessDenied:
            return "AccessDenied";
        case JobError::Kind::Message:
            return "Message";
    }
    return "Message";
}

// --- The job -----------------------------------------------------------------

namespace {

using PKind = PipelineError::Kind;

// One run of the job: its request, its world, its clock and its lines.
class Job {
  public:
    Job(const WriteRequest& request, std::shared_ptr<WriteSystem> system)
        : request_(request), system_(std::move(system)), progress_(*request.progress) {}

    WriteResult run();

  private:
    void prepare(std::string_view text) {
        long long ms = elapsed_ms(started_, system_->clock().now());
        system_->log(LogLevel::Info, fmt("prepare +{} ms: {}", ms, text));
    }
    bool stopped() const { return request_.stop->load(std::memory_order_relaxed); }
    std::optional<std::string> reidentify(WritePhase phase);
    Result<DeviceInfo, JobError> checked_drive();
    Result<LockedVolumes, JobError> locked_volumes();
    Result<RawDevice, JobError> opened_device(size_t locked_count);
    Result<void, JobError> probe(RawDevice& device);
    PipelineConfig pipeline_config() const;

    const WriteRequest& request_;
    std::shared_ptr<WriteSystem> system_;
    WriteProgress& progress_;
    Clock::TimePoint started_{};
};

std::string write_start_line(const WriteRequest& r) {
    const DeviceInfo& d = r.drive;
    return fmt(
        "write start: disk {} '{}' serial='{}' size={} bus={} sector={}/{} usb={}; image {} ({} "
        "bytes, {}); io={} chunk={} buffers={}",
        d.number, drive_label(d), d.serial, d.size, bus_name(d.bus), d.logical_sector,
        d.physical_sector, usb_speed_debug(d.usb_speed), r.image_path, r.image.size,
        r.image.version, debug_string(r.io), r.chunk_size, r.buffer_count);
}

std::optional<std::string> Job::reidentify(WritePhase phase) {
    system_->log(LogLevel::Info, fmt("phase {}: re-identifying the drive…", phase_name(phase)));
    auto found = system_->identify_drive(identity_of(request_.drive));
    system_->log(LogLevel::Info, fmt("phase {}: drive re-identified ({})", phase_name(phase),
                                     found ? "same drive" : "CHANGED"));
    if (!found) return found.error();
    return std::nullopt;
}

// A failed lock, open or probe that says the device is gone.
JobError disconnected(const OsError& error) {
    return JobError::of_pipeline(PipelineError::of(PKind::DeviceDisconnected, error.text));
}

// The drive as it is now, if it is still the chosen one and holds nothing
// of the running system.
Result<DeviceInfo, JobError> Job::checked_drive() {
    prepare("re-identifying the drive…");
    auto drive = system_->identify_drive(identity_of(request_.drive));
    if (!drive) return unexpected(JobError::of(JobError::Kind::IdentityChanged, drive.error()));

    prepare("drive re-identified; gathering system facts…");
    std::optional<std::string> image_path = request_.image_path;
    auto facts = run_with_time_limit(
        "system disk check", kFactsLimitSeconds,
        [system = system_, image_path] { return system->gather_system_facts(image_path); },
        system_->clock());
    if (!facts) return unexpected(JobError::of(JobError::Kind::Message, facts.error()));

    prepare("system facts gathered");
    auto refusals = refusals_for(*drive, *facts, request_.image.size);
    if (!refusals.empty()) return unexpected(JobError::protected_by(std::move(refusals)));
    return std::move(*drive);
}

// Every volume of the drive locked and dismounted.
Result<LockedVolumes, JobError> Job::locked_volumes() {
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
    auto lock = system_->lock_and_dismount(request_.drive.number, **volumes, lock_progress);
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

// The drive, identified once more now that nothing else can reach it, opened
// for raw transfers.
Result<RawDevice, JobError> Job::opened_device(size_t locked_count) {
    prepare(fmt("locked and dismounted {} volume(s); re-identifying the drive…", locked_count));
    progress_.set_step(PrepareStep::Checking);
    auto again = system_->identify_drive(identity_of(request_.drive));
    if (!again) return unexpected(JobError::of(JobError::Kind::IdentityChanged, again.error()));

    prepare("drive re-identified after locking; opening the raw device…");
    progress_.set_step(PrepareStep::Opening);
    const uint32_t number = again->number;
    const uint32_t sector = again->logical_sector;
    const uint64_t size = again->size;
    const IoConfig io = request_.io;
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

// Whether the drive takes a write at all, before anything on it is erased.
Result<void, JobError> Job::probe(RawDevice& device) {
    prepare("testing that the drive accepts writes (nothing is changed)…");
    auto probe = [&] {
        // A stop while a probe request hangs cancels it.
        auto watching = device.stop_on(*request_.stop);
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
    if (!request_.drive.letters.empty()) letter = request_.drive.letters.front();
    std::string diagnosis = system_->filesystem_diagnosis(letter);
    prepare(fmt("filesystem write test: {}", diagnosis));
    return unexpected(
        JobError::of(JobError::Kind::NotWritable,
                     fmt("{}: {}; filesystem write test: {}", f.step, f.error.text, diagnosis)));
}

PipelineConfig Job::pipeline_config() const {
    PipelineConfig config;
    config.capture = request_.image.capture;
    config.image_size = request_.image.size;
    config.chunk_size = request_.chunk_size;
    config.buffer_count = request_.buffer_count;
    config.head_limit = kHeadLimit;
    config.expected_digest = request_.image.expected_digest;
    if (request_.image.capture) config.expected_capture = request_.image.signature_block;
    config.verify = request_.verify;
    return config;
}

WriteResult Job::run() {
    WriteSystem& sys = *system_;
    system_->log(LogLevel::Info, write_start_line(request_));
    progress_.set(0, 0, WritePhase::Preparing);
    progress_.set_step(PrepareStep::Checking);
    started_ = sys.clock().now();

    if (auto drive = checked_drive(); !drive) return unexpected(drive.error());
    if (stopped()) return unexpected(JobError::of_pipeline(PipelineError::of(PKind::Cancelled)));

    // Held from here until the job returns; released after the device (the
    // members of a scope end in reverse order).
    std::optional<LockedVolumes> locked;
    std::optional<RawDevice> device;
    auto lock = locked_volumes();
    if (!lock) return unexpected(lock.error());
    locked.emplace(std::move(*lock));
    auto opened = opened_device(locked->size());
    if (!opened) return unexpected(opened.error());
    device.emplace(std::move(*opened));
    if (auto accepted = probe(*device); !accepted) return unexpected(accepted.error());

    auto image = sys.open_image(request_.image_path);
    if (!image)
        return unexpected(
            JobError::of_pipeline(PipelineError::of(PKind::ImageRead, image.error())));

    prepare("raw device and image opened; starting the pipeline…");
    auto pass = run_pipeline(
        **image, *device, pipeline_config(), *request_.stop, progress_,
        [this](WritePhase phase) { return reidentify(phase); }, sys.clock());
    if (!pass) {
        // Nothing the device may still be doing outlives the job.
        device->cancel_all();
        image->reset();
        return unexpected(JobError::of_pipeline(pass.error()));
    }
    image->reset();
    progress_.set(0, 0, WritePhase::Finishing);

    WriteReport report;
    report.pipeline = *pass;
    if (request_.eject_when_done) {
        // The system vetoes ejecting a disk that this process still holds
        // open or locked, so the device and the volume locks go first.
        device.reset();
        locked.reset();
        if (request_.eject_started) request_.eject_started();
        report.eject = sys.eject_drive(request_.drive);
    }
    return report;
}

}  // namespace

WriteResult run_write_job(const WriteRequest& request, std::shared_ptr<WriteSystem> system) {
    Job job(request, std::move(system));
    return job.run();
}

std::string outcome_line(const WriteRequest& request, const WriteResult& result) {
    if (!result) return fmt("write failed: {}", result.error().text());
    const PipelineReport& p = result->pipeline;
    const double mb = static_cast<double>(request.image.size) / 1e6;
    std::string eject = result->eject ? debug_string(*result->eject) : "Ok(())";
    return fmt("write OK: {} bytes, write {}s ({} MB/s), flush {}s, verify {}s ({} MB/s), eject {}",
               p.bytes_written, fixed(p.write_seconds, 1),
               fixed(mb / std::max(p.write_seconds, 0.001), 1), fixed(p.flush_seconds, 1),
               fixed(p.verify_seconds, 1), fixed(mb / std::max(p.verify_seconds, 0.001), 1), eject);
}

// --- The window's face ---------------------------------------------------------

std::optional<DeviceInfo> find_chosen_drive(const std::vector<DeviceInfo>& drives,
                                            const DeviceInfo& chosen) {
    const DeviceIdentity wanted = identity_of(chosen);
    for (const auto& d : drives)
        if (d.number == chosen.number && identity_of(d) == wanted) return d;
    return std::nullopt;
}

void run_heartbeat(const WriteProgress& progress, HeartbeatSignal& signal, WriteSystem& system) {
    Clock& clock = system.clock();
    for (int checks = 1;; ++checks) {
        {
            std::unique_lock<std::mutex> lock(signal.mutex);
            if (clock.wait_for(lock, signal.wake, kHeartbeatCheck, [&] { return signal.finished; }))
                return;
        }
        if (checks % kHeartbeatEvery != 0) continue;
        system.log(
            LogLevel::Info,
            fmt("heartbeat: phase {} step {} {}/{} bytes", phase_name(progress.read_phase()),
                step_name(progress.read_step()), progress.done.load(std::memory_order_relaxed),
                progress.total.load(std::memory_order_relaxed)));
    }
}

void run_job_thread(const WriteRequest& request, const WriteFinishedReporter& finished,
                    std::shared_ptr<WriteSystem> system) {
    platform::KeepAwake awake;
    HeartbeatSignal signal;
    std::thread heartbeat =
        spawn_thread([&] { run_heartbeat(*request.progress, signal, *system); });
    WriteResult result = run_write_job(request, system);
    signal.finish();
    heartbeat.join();
    if (result) {
        system->log(LogLevel::Info, outcome_line(request, result));
    } else {
        system->log(LogLevel::Error, outcome_line(request, result));
    }
    finished(std::move(result));
}

WriteRequest window_write_request(const WriteChoice& choice) {
    WriteRequest request;
    request.image = choice.image;
    request.image_path = choice.image_path;
    request.drive = choice.drive;
    request.verify = choice.verify;
    request.eject_when_done = false;  // the window ejects as a later step
    return request;
}

std::optional<WriteJob> start_write(const WriteChoice& choice,
                                    const std::vector<DeviceInfo>& current_drives,
                                    WriteFinishedReporter finished,
                                    std::shared_ptr<WriteSystem> system) {
    if (!find_chosen_drive(current_drives, choice.drive)) return std::nullopt;
    WriteRequest request = window_write_request(choice);
    WriteJob job;
    job.progress = request.progress;
    job.stop = request.stop;
    job.thread =
        spawn_thread([request = std::move(request), finished = std::move(finished),
                      system = std::move(system)] { run_job_thread(request, finished, system); });
    return job;
}

void stop_write(WriteJob& job, WriteSystem& system) {
    system.log(LogLevel::Info, "operator stopped the write");
    job.stop->store(true, std::memory_order_relaxed);
}

}  // namespace sw
