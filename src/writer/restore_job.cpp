#include "writer/restore_job.h"

#include <algorithm>
#include <cstring>

#include "core/process.h"
#include "core/text.h"
#include "disk/drives.h"
#include "disk/eject.h"
#include "runtime/thread.h"
#include "writer/buffer.h"
#include "writer/job_steps.h"

namespace sw {

namespace {

using PKind = PipelineError::Kind;

// Transfers go in pieces of this size, so that a stop is seen between them
// and progress moves on large zero extents.
constexpr size_t kPiece = 1048576;

JobError pipeline_error(PKind kind, std::string detail = {}) {
    return JobError::of_pipeline(PipelineError::of(kind, std::move(detail)));
}

std::string restore_start_line(const RestoreRequest& r) {
    const DeviceInfo& d = r.drive;
    return fmt("restore start: disk {} '{}' serial='{}' size={} bus={} sector={}/{} usb={}; io={}",
               d.number, drive_label(d), d.serial, d.size, bus_name(d.bus), d.logical_sector,
               d.physical_sector, usb_speed_debug(d.usb_speed), debug_string(r.io));
}

class Restore {
  public:
    Restore(const RestoreRequest& request, std::shared_ptr<Machine> machine)
        : request_(request),
          progress_(*request.progress),
          steps_(JobTarget{request.drive, request.io, std::nullopt, std::nullopt},
                 std::move(machine), *request.progress, *request.stop),
          buffer_(kPiece),
          readback_(kPiece) {}

    RestoreResult run();

  private:
    bool stopped() const { return steps_.stopped(); }
    Result<void, JobError> write_extent(RawDevice& device, const format::Extent& extent,
                                        bool zeros);
    Result<void, JobError> compare_extent(RawDevice& device, const format::Extent& extent);
    Result<void, JobError> flush(RawDevice& device);
    Result<void, JobError> check_identity(WritePhase phase);
    Result<void, JobError> compare_from_medium(RawDevice& device,
                                               std::span<const format::Extent> extents);
    Result<void, JobError> write_file_system(RawDevice& device, const format::Layout& layout,
                                             RestoreReport& report);
    Result<void, JobError> prove_then_write_table(RawDevice& device, const format::Layout& layout,
                                                  RestoreReport& report);

    const RestoreRequest& request_;
    WriteProgress& progress_;
    JobSteps steps_;
    AlignedBuffer buffer_;
    AlignedBuffer readback_;
    uint64_t written_ = 0;
};

Result<void, JobError> Restore::check_identity(WritePhase phase) {
    if (auto changed = steps_.reidentify(phase))
        return unexpected(pipeline_error(PKind::Refused, *changed));
    return {};
}

// The extent's bytes, or as many zeros when `zeros` is set or it has none.
Result<void, JobError> Restore::write_extent(RawDevice& device, const format::Extent& extent,
                                             bool zeros) {
    auto watching = device.stop_on(*request_.stop);
    for (uint64_t at = 0; at < extent.length;) {
        if (stopped()) return unexpected(pipeline_error(PKind::Cancelled));
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kPiece, extent.length - at));
        auto piece = buffer_.bytes_mut(0, n);
        if (zeros || extent.bytes.empty())
            std::memset(piece.data(), 0, n);
        else
            std::memcpy(piece.data(), extent.bytes.data() + at, n);
        if (auto w = device.write_at(extent.offset + at, piece); !w)
            return unexpected(JobError::of_pipeline(device_error(w.error(), PKind::DeviceWrite)));
        at += n;
        written_ += n;
        progress_.done.fetch_add(n, std::memory_order_relaxed);
    }
    return {};
}

Result<void, JobError> Restore::compare_extent(RawDevice& device, const format::Extent& extent) {
    auto watching = device.stop_on(*request_.stop);
    for (uint64_t at = 0; at < extent.length;) {
        if (stopped()) return unexpected(pipeline_error(PKind::Cancelled));
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kPiece, extent.length - at));
        auto got = readback_.bytes_mut(0, n);
        if (auto r = device.read_at(extent.offset + at, got); !r)
            return unexpected(JobError::of_pipeline(device_error(r.error(), PKind::ReadBack)));
        const auto* bytes = reinterpret_cast<const uint8_t*>(got.data());
        const bool same = extent.bytes.empty()
                              ? std::all_of(bytes, bytes + n, [](uint8_t b) { return b == 0; })
                              : std::memcmp(bytes, extent.bytes.data() + at, n) == 0;
        if (!same) {
            Logger::write(LogLevel::Error,
                          fmt("read-back differs within {} bytes at {}", n, extent.offset + at));
            return unexpected(pipeline_error(PKind::ContentMismatch));
        }
        at += n;
        progress_.done.fetch_add(n, std::memory_order_relaxed);
    }
    return {};
}

Result<void, JobError> Restore::flush(RawDevice& device) {
    auto watching = device.stop_on(*request_.stop);
    if (auto f = device.flush(); !f)
        return unexpected(JobError::of_pipeline(device_error(f.error(), PKind::DeviceFlush)));
    return {};
}

// Reads from the medium itself (not the system's cache) and compares.
Result<void, JobError> Restore::compare_from_medium(RawDevice& device,
                                                    std::span<const format::Extent> extents) {
    auto medium = device.read_from_medium();
    if (!medium)
        return unexpected(JobError::of_pipeline(device_error(medium.error(), PKind::ReadBack)));
    for (const auto& extent : extents)
        if (auto c = compare_extent(device, extent); !c) return c;
    return {};
}

// First the old partition tables go, so that a drive left by a failed
// restore claims no file system at all; then the file system, flushed.
Result<void, JobError> Restore::write_file_system(RawDevice& device, const format::Layout& layout,
                                                  RestoreReport& report) {
    Clock& clock = steps_.clock();
    // The extent at the drive's start, with the partition table, is the last.
    const format::Extent& table = layout.extents.back();
    const auto body = std::span(layout.extents).first(layout.extents.size() - 1);

    if (auto same = check_identity(WritePhase::Writing); !same) return same;
    auto t = clock.now();
    progress_.set(0, layout.bytes_written(), WritePhase::Writing);
    steps_.prepare("clearing the old partition tables…");
    if (auto w = write_extent(device, table, true); !w) return w;
    if (auto f = flush(device); !f) return f;
    for (const auto& extent : body)
        if (auto w = write_extent(device, extent, false); !w) return w;
    report.write_seconds = elapsed_seconds(t, clock.now());

    if (auto same = check_identity(WritePhase::Flushing); !same) return same;
    progress_.set(0, 0, WritePhase::Flushing);
    t = clock.now();
    if (auto f = flush(device); !f) return f;
    report.flush_seconds = elapsed_seconds(t, clock.now());
    return {};
}

// The file system as the medium holds it, before a table points at it; then
// the partition table, last, and proven like the rest.
Result<void, JobError> Restore::prove_then_write_table(RawDevice& device,
                                                       const format::Layout& layout,
                                                       RestoreReport& report) {
    Clock& clock = steps_.clock();
    const format::Extent& table = layout.extents.back();
    const auto body = std::span(layout.extents).first(layout.extents.size() - 1);

    if (auto same = check_identity(WritePhase::Verifying); !same) return same;
    auto t = clock.now();
    progress_.set(0, layout.bytes_written(), WritePhase::Verifying);
    if (auto c = compare_from_medium(device, body); !c) return c;

    steps_.prepare("writing the partition table…");
    if (stopped()) return unexpected(pipeline_error(PKind::Cancelled));
    if (auto w = write_extent(device, table, false); !w) return w;
    if (auto f = flush(device); !f) return f;
    if (auto c = compare_from_medium(device, std::span(&table, 1)); !c) return c;
    report.verify_seconds = elapsed_seconds(t, clock.now());
    return {};
}

RestoreResult Restore::run() {
    steps_.start(restore_start_line(request_));

    auto drive = steps_.checked_drive();
    if (!drive) return unexpected(drive.error());
    auto layout = format::lay_out(drive->size, drive->logical_sector, request_.volume_serial);
    if (!layout)
        return unexpected(
            JobError::of(JobError::Kind::Message,
                         fmt("cannot restore this drive: {}", format::describe(layout.error()))));
    steps_.prepare(
        fmt("laid out {} with {}-byte clusters: partition of {} bytes at {}, {} bytes "
            "to write",
            format::name(layout->fs), layout->cluster_bytes, layout->partition_bytes,
            layout->partition_offset, layout->bytes_written()));
    if (stopped()) return unexpected(pipeline_error(PKind::Cancelled));

    // Held from here until the job returns.
    JobSteps::Taken taken;
    if (auto took = steps_.take(taken); !took) return unexpected(took.error());
    RawDevice& device = *taken.device;

    RestoreReport report;
    report.fs = layout->fs;
    report.cluster_bytes = layout->cluster_bytes;
    report.capacity_bytes = layout->capacity_bytes();

    auto written = write_file_system(device, *layout, report);
    if (written) written = prove_then_write_table(device, *layout, report);
    if (!written) {
        // Nothing the device may still be doing outlives the job.
        device.cancel_all();
        return unexpected(written.error());
    }
    report.bytes_written = written_;
    progress_.set(0, 0, WritePhase::Finishing);

    // The system reads a disk's table only when asked (or when the disk
    // arrives), and not while this job holds it.
    const uint32_t number = device.number();
    taken.device.reset();
    taken.locked.reset();
    if (auto refreshed = refresh_layout(steps_.machine().disks(), number); !refreshed) {
        Logger::write(LogLevel::Warn, refreshed.error());
        report.refresh_failure = refreshed.error();
    } else {
        Logger::write(LogLevel::Info, "the system has read the new partition table");
    }
    return report;
}

std::string size_text(uint64_t bytes) {
    constexpr const char* kUnits[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes);
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(kUnits)) {
        value /= 1024;
        ++unit;
    }
    if (unit == 0) return fmt("{} bytes", bytes);
    return fmt("{} {}", fixed(value, 1), kUnits[unit]);
}

std::string cluster_text(uint32_t bytes) {
    if (bytes >= 1024 && bytes % 1024 == 0) return fmt("{} KiB", bytes / 1024);
    return fmt("{} B", bytes);
}

}  // namespace

RestoreResult run_restore_job(const RestoreRequest& request, std::shared_ptr<Machine> machine) {
    Restore job(request, std::move(machine));
    return job.run();
}

std::string restored_summary(const RestoreReport& report) {
    return fmt("{}, {} clusters, {}", format::name(report.fs), cluster_text(report.cluster_bytes),
               size_text(report.capacity_bytes));
}

std::string restore_outcome_line(const RestoreResult& result) {
    if (!result) return fmt("restore failed: {}", result.error().text());
    const RestoreReport& r = *result;
    return fmt("restore OK: {}; {} bytes written, write {}s, flush {}s, verify {}s",
               restored_summary(r), r.bytes_written, fixed(r.write_seconds, 1),
               fixed(r.flush_seconds, 1), fixed(r.verify_seconds, 1));
}

uint32_t volume_serial_at(std::chrono::system_clock::time_point when) {
    // Seconds and their fraction in the high half, the day's count in the
    // low one, mixed so that neighbouring moments differ in every byte.
    const auto since = when.time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
    auto x = static_cast<uint64_t>(ms);
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdull;
    x ^= x >> 33;
    auto serial = static_cast<uint32_t>(x);
    return serial == 0 ? 1 : serial;
}

RestoreRequest window_restore_request(const DeviceInfo& chosen) {
    RestoreRequest request;
    request.drive = chosen;
    request.volume_serial = volume_serial_at(std::chrono::system_clock::now());
    return request;
}

void run_restore_thread(const RestoreRequest& request, const RestoreFinishedReporter& finished,
                        std::shared_ptr<Machine> machine) {
    run_as_job_thread(
        *request.progress, machine->clock(), [&] { return run_restore_job(request, machine); },
        [](const RestoreResult& result) { return restore_outcome_line(result); }, finished);
}

}  // namespace sw
