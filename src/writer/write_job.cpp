#include "writer/write_job.h"

#include <algorithm>

#include "core/process.h"
#include "core/text.h"
#include "disk/eject.h"
#include "hex/hex.h"
#include "image/validation.h"
#include "runtime/thread.h"
#include "writer/job_steps.h"

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
    Job(const WriteRequest& request, std::shared_ptr<Machine> machine)
        : request_(request),
          progress_(*request.progress),
          steps_(JobTarget{request.drive, request.io, request.image_path, request.image.size},
                 std::move(machine), *request.progress, *request.stop) {}

    WriteResult run();

  private:
    void prepare(std::string_view text) { steps_.prepare(text); }
    bool stopped() const { return steps_.stopped(); }
    PipelineConfig pipeline_config() const;

    const WriteRequest& request_;
    WriteProgress& progress_;
    JobSteps steps_;
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
    steps_.start(write_start_line(request_));

    if (auto drive = steps_.checked_drive(); !drive) return unexpected(drive.error());
    if (stopped()) return unexpected(JobError::of_pipeline(PipelineError::of(PKind::Cancelled)));

    // Held from here until the job returns.
    JobSteps::Taken taken;
    if (auto took = steps_.take(taken); !took) return unexpected(took.error());
    std::optional<RawDevice>& device = taken.device;
    std::optional<LockedVolumes>& locked = taken.locked;

    auto image = steps_.machine().open_image(request_.image_path);
    if (!image)
        return unexpected(
            JobError::of_pipeline(PipelineError::of(PKind::ImageRead, image.error())));

    prepare("raw device and image opened; starting the pipeline…");
    auto pass = run_pipeline(
        **image, *device, pipeline_config(), *request_.stop, progress_,
        [this](WritePhase phase) { return steps_.reidentify(phase); }, steps_.clock());
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
        report.eject = eject_drive(steps_.machine().disks(), steps_.drive());
    }
    return report;
}

}  // namespace

WriteResult run_write_job(const WriteRequest& request, std::shared_ptr<Machine> machine) {
    Job job(request, std::move(machine));
    return job.run();
}

std::string ok_line(OutcomeStyle style, uint64_t image_size, const WriteReport& report,
                    double total_seconds) {
    const PipelineReport& p = report.pipeline;
    const double mb = static_cast<double>(image_size) / 1e6;
    const std::string write = fixed(p.write_seconds, 1);
    const std::string write_rate = fixed(mb / std::max(p.write_seconds, 0.001), 1);
    const std::string verify = fixed(p.verify_seconds, 1);
    const std::string verify_rate = fixed(mb / std::max(p.verify_seconds, 0.001), 1);
    const std::string eject = report.eject ? debug_string(*report.eject) : "Ok(())";
    if (style == OutcomeStyle::Log)
        return fmt(
            "write OK: {} bytes, write {}s ({} MB/s), flush {}s, verify {}s ({} MB/s), eject {}",
            p.bytes_written, write, write_rate, fixed(p.flush_seconds, 1), verify, verify_rate,
            eject);
    return fmt("OK total={}s write={}s ({} MB/s) flush={}s verify={}s ({} MB/s) digest={} eject={}",
               fixed(total_seconds, 1), write, write_rate, fixed(p.flush_seconds, 2), verify,
               verify_rate, hex_encode(p.digest), eject);
}

std::string outcome_line(const WriteRequest& request, const WriteResult& result) {
    if (!result) return fmt("write failed: {}", result.error().text());
    return ok_line(OutcomeStyle::Log, request.image.size, *result);
}

// --- The window's face ---------------------------------------------------------

std::optional<DeviceInfo> find_chosen_drive(const std::vector<DeviceInfo>& drives,
                                            const DeviceInfo& chosen) {
    // The identity holds the disk number.
    const DeviceIdentity wanted = identity_of(chosen);
    for (const auto& d : drives)
        if (identity_of(d) == wanted) return d;
    return std::nullopt;
}

void run_heartbeat(const WriteProgress& progress, HeartbeatSignal& signal, Clock& clock) {
    for (int checks = 1;; ++checks) {
        {
            std::unique_lock<std::mutex> lock(signal.mutex);
            if (clock.wait_for(lock, signal.wake, kHeartbeatCheck, [&] { return signal.finished; }))
                return;
        }
        if (checks % kHeartbeatEvery != 0) continue;
        Logger::write(
            LogLevel::Info,
            fmt("heartbeat: phase {} step {} {}/{} bytes", phase_name(progress.read_phase()),
                step_name(progress.read_step()), progress.done.load(std::memory_order_relaxed),
                progress.total.load(std::memory_order_relaxed)));
    }
}

void run_job_thread(const WriteRequest& request, const WriteFinishedReporter& finished,
                    std::shared_ptr<Machine> machine) {
    run_as_job_thread(
        *request.progress, machine->clock(), [&] { return run_write_job(request, machine); },
        [&](const WriteResult& result) { return outcome_line(request, result); }, finished);
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

}  // namespace sw
