#include "disk/health.h"

#include <algorithm>
#include <new>
#include <vector>

#include "core/text.h"
#include "runtime/thread.h"
#include "disk/drives.h"
#include "disk/health_check.h"
#include "disk/platform_disks.h"
#include "logging/logger.h"

namespace sw {

namespace {

// One transfer buffer, aligned for unbuffered I/O.
class AlignedBlock {
  public:
    explicit AlignedBlock(size_t size)
        : size_(size), data_(static_cast<std::byte*>(::operator new(size, kAlignment))) {
        std::fill_n(data_, size_, std::byte{0});
    }
    ~AlignedBlock() { ::operator delete(data_, kAlignment); }
    AlignedBlock(const AlignedBlock&) = delete;
    AlignedBlock& operator=(const AlignedBlock&) = delete;
    std::span<std::byte> span() { return {data_, size_}; }

  private:
    static constexpr std::align_val_t kAlignment{65536};
    size_t size_;
    std::byte* data_;
};

Verdict pass(double speed) {
    return Verdict{Verdict::Pass, speed, {}};
}

Verdict failed(std::string text) {
    return Verdict{Verdict::Failed, std::nullopt, std::move(text)};
}

// A Failed verdict at an offset says where; the others stay as they are.
Verdict at_byte(uint64_t offset, Verdict verdict) {
    if (verdict.kind == Verdict::Failed) verdict.text = fmt("at byte {}: {}", offset, verdict.text);
    return verdict;
}

}  // namespace

// --- Verdicts and reports ------------------------------------------------------

std::string debug_string(const Verdict& verdict) {
    switch (verdict.kind) {
        case Verdict::Pass:
            return verdict.speed ? fmt("Pass(Some({}))", shortest_float(*verdict.speed))
                                 : std::string("Pass(None)");
        case Verdict::NoResponse:
            return "NoResponse";
        case Verdict::WriteProtected:
            return "WriteProtected";
        case Verdict::Failed:
            return fmt("Failed({})", debug_quoted(verdict.text));
        case Verdict::Skipped:
            return "Skipped";
    }
    return "Skipped";
}

Verdict verdict_of_error(const OsError& error) {
    if (error.is(kTimedOut)) return Verdict{Verdict::NoResponse, std::nullopt, {}};
    if (error.is(kWriteProtected)) return Verdict{Verdict::WriteProtected, std::nullopt, {}};
    return failed(error.text);
}

std::string debug_string(const HealthReport& report) {
    return fmt("HealthReport { drive: {}, file_write: {}, read: {}, write: {}, error: {} }",
               debug_quoted(report.drive), debug_string(report.file_write),
               debug_string(report.read), debug_string(report.write),
               report.error ? fmt("Some({})", debug_quoted(*report.error)) : std::string("None"));
}

bool is_healthy(const HealthReport& report) {
    return !report.error && report.read.kind == Verdict::Pass &&
           report.write.kind == Verdict::Pass &&
           (report.file_write.kind == Verdict::Pass || report.file_write.kind == Verdict::Skipped);
}

double rate(uint64_t bytes, Clock::TimePoint from, Clock::TimePoint to) {
    return static_cast<double>(bytes) / std::max(elapsed_seconds(from, to), 0.001);
}

// --- File test -------------------------------------------------------------------

FileTestTarget letter_target(char letter) {
    return FileTestTarget{std::string(1, letter),
                          fmt("{}:\\", letter),
                          fmt("{}:\\ortivex-write-test.tmp", letter),
                          {}};
}

FileTestTarget mount_point_target(const std::string& mount_point, const std::string& device) {
    std::string file = mount_point;
    if (file.empty() || file.back() != '/') file += '/';
    file += "ortivex-write-test.tmp";
    return FileTestTarget{mount_point, mount_point, std::move(file), device};
}

std::vector<FileTestTarget> mount_point_targets(uint32_t number,
                                                const std::vector<VolumeInfo>& volumes) {
    std::vector<FileTestTarget> out;
    for (const auto& volume : volumes) {
        if (std::find(volume.disks.begin(), volume.disks.end(), number) == volume.disks.end())
            continue;
        for (const auto& point : volume.mount_points)
            out.push_back(mount_point_target(point, volume.device));
    }
    return out;
}

std::optional<std::string> mounted_file_system(const FileTestTarget& target,
                                               const std::vector<MountEntry>& mounts) {
    const MountEntry* top = nullptr;
    for (const auto& m : mounts)
        if (m.mount_point == target.root) top = &m;  // the last mount there is the one seen
    if (top == nullptr || dev_text(top->major, top->minor) != target.device) return std::nullopt;
    auto read_only = [](std::string_view options) {
        while (!options.empty()) {
            auto comma = options.find(',');
            if (options.substr(0, comma) == "ro") return true;
            if (comma == std::string_view::npos) break;
            options.remove_prefix(comma + 1);
        }
        return false;
    };
    if (read_only(top->mount_options) || read_only(top->super_options)) return std::nullopt;
    return top->fs_type;
}

bool file_system_qualifies(std::string_view name) {
    static constexpr std::string_view kNames[] = {"FAT",  "NTFS",  "FAT32", "EXFAT",
                                                  "VFAT", "MSDOS", "NTFS3"};
    std::string upper = ascii_upper(name);
    return std::find(std::begin(kNames), std::end(kNames), upper) != std::end(kNames);
}

Result<void, OsError> run_file_test(FileOps& ops, const std::string& path) {
    auto file = ops.create(path);
    if (!file) return unexpected(file.error());
    std::vector<std::byte> data(kFileTestBytes, std::byte{kFileTestByte});
    if (auto written = (*file)->write(data); !written) {
        (void)(*file)->close();
        return written;
    }
    if (auto flushed = (*file)->flush(); !flushed) {
        (void)(*file)->close();
        return flushed;
    }
    if (auto closed = (*file)->close(); !closed) return closed;
    return ops.remove(path);
}

Result<void, FileTestError> file_test_with_time_limit(std::shared_ptr<FileOps> ops,
                                                      const std::string& path, Clock& clock) {
    return run_with_time_limit(
        std::chrono::seconds(kFileTestSeconds),
        [ops = std::move(ops), path]() -> Result<void, FileTestError> {
            auto tested = run_file_test(*ops, path);
            if (!tested) return unexpected(FileTestError{tested.error(), tested.error().text});
            return {};
        },
        [] {
            return FileTestError{std::nullopt,
                                 time_limit_text("filesystem write test", kFileTestSeconds)};
        },
        clock);
}

std::string filesystem_diagnosis(const Disks& disks, std::optional<char> letter) {
    if (!letter) return "skipped (the drive has no drive letter)";
    Clock& clock = disks->clock();
    clock.sleep_for(std::chrono::milliseconds(1500));
    FileTestTarget target = letter_target(*letter);
    auto start = clock.now();
    auto answer = file_test_with_time_limit(disks->file_ops(), target.file, clock);
    if (!answer && !answer.error().os)
        return fmt("{} on {}: (Windows cannot write to this drive either)", answer.error().text,
                   *letter);
    if (!answer) return fmt("FAILED on {}: {}", *letter, answer.error().text);
    return fmt("OK on {}: in {} ms (Windows can write files to this drive)", *letter,
               elapsed_ms(start, clock.now()));
}

// --- Raw tests -----------------------------------------------------------------

void run_raw_test(RawDevice& device, HealthReport& report, Clock& clock) {
    // Only write protection counts: a device that cannot answer the query
    // may still take writes, which the write-back test then shows.
    bool write_protected = false;
    if (auto writable = device.query_writable(kWritableQueryMs); !writable)
        write_protected = writable.error().is(kWriteProtected);

    auto settings = device.use_settings(kHealthWaitMs, 1, kMiB);
    AlignedBlock block(kMiB);
    std::span<std::byte> buffer = block.span();

    const uint64_t whole_mib = device.size() / kMiB;
    if (whole_mib == 0) {
        // Too small for one whole test block: nothing can be read or written
        // back in 1 MiB pieces, so both tests stay Skipped (not healthy).
        Logger::write(
            LogLevel::Info,
            fmt("raw test skipped: the drive holds {} bytes, less than 1 MiB", device.size()));
        return;
    }

    const uint64_t read_bytes = std::min(whole_mib * kMiB, kMaxReadTest);
    auto start = clock.now();
    for (uint64_t offset = 0; offset < read_bytes; offset += kMiB) {
        auto read = device.read_at(offset, buffer);
        if (!read) {
            report.read = verdict_of_error(read.error());
            report.write = write_protected
                               ? Verdict{Verdict::WriteProtected, std::nullopt, {}}
                               : at_byte(0, failed("not tested: the drive could not be read"));
            device.cancel_all();
            return;
        }
    }
    report.read = pass(rate(read_bytes, start, clock.now()));

    if (write_protected) {
        report.write = Verdict{Verdict::WriteProtected, std::nullopt, {}};
        return;
    }
    const uint64_t last = whole_mib - 1;
    const uint64_t offsets[] = {0, last / 2 * kMiB, last * kMiB};
    Clock::TimePoint::duration total{0};
    for (uint64_t offset : offsets) {
        auto read = device.read_at(offset, buffer);
        if (!read) {
            report.write = at_byte(offset, verdict_of_error(read.error()));
            device.cancel_all();
            return;
        }
        auto before = clock.now();
        auto written = device.write_at(offset, buffer);
        total += clock.now() - before;
        if (!written) {
            report.write = at_byte(offset, verdict_of_error(written.error()));
            device.cancel_all();
            return;
        }
    }
    auto origin = Clock::TimePoint{};
    report.write = pass(rate(3 * kMiB, origin, origin + total));
}

Result<WriteProbeTimes, WriteProbeFailure> probe_writable(const Disks& disks, RawDevice& device) {
    Clock& clock = disks->clock();
    if (auto writable = device.query_writable(kWritableQueryMs); !writable) {
        if (writable.error().is(kWriteProtected))
            return unexpected(WriteProbeFailure{"writable query", writable.error()});
        Logger::write(LogLevel::Info,
                      fmt("{}: {}", platform::writable_query_name(), writable.error().text));
    }
    auto settings = device.use_settings(kHealthWaitMs, 1, kProbeBytes);
    AlignedBlock block(kProbeBytes);
    WriteProbeTimes times;

    auto start = clock.now();
    if (auto read = device.read_at(0, block.span()); !read) {
        device.cancel_all();
        return unexpected(WriteProbeFailure{"raw read of the first 64 KiB", read.error()});
    }
    auto middle = clock.now();
    times.read_ms = static_cast<uint64_t>(elapsed_ms(start, middle));
    if (auto written = device.write_at(0, block.span()); !written) {
        device.cancel_all();
        return unexpected(WriteProbeFailure{"raw write-back of the first 64 KiB", written.error()});
    }
    times.write_ms = static_cast<uint64_t>(elapsed_ms(middle, clock.now()));
    return times;
}

// --- The whole check ---------------------------------------------------------------

namespace {

// The file test on the first place of the drive whose file system qualifies;
// Skipped when there is none.
Verdict file_test_verdict(const Disks& disks, const DeviceInfo& drive) {
    Clock& clock = disks->clock();
    for (const auto& target : disks->file_test_targets(drive)) {
        auto name = disks->file_system_name(target);
        if (!name || !file_system_qualifies(*name)) continue;
        auto start = clock.now();
        auto answer = file_test_with_time_limit(disks->file_ops(), target.file, clock);
        if (!answer && !answer.error().os) return Verdict{Verdict::NoResponse, std::nullopt, {}};
        if (!answer) return verdict_of_error(*answer.error().os);
        return pass(rate(kFileTestBytes, start, clock.now()));
    }
    return Verdict{};
}

}  // namespace

HealthReport check_health(const Disks& disks, const DeviceInfo& drive) {
    Clock& clock = disks->clock();
    HealthReport report;
    report.drive = drive_label(drive);
    Logger::write(LogLevel::Info, fmt("health check start: disk {} '{}' serial='{}'", drive.number,
                                      report.drive, drive.serial));

    auto found = identify_drive(disks, identity_of(drive));
    if (!found) {
        report.error = found.error();
        return report;
    }

    auto facts = run_with_time_limit(
        "system disk check", kFactsSeconds,
        [disks] { return gather_system_facts(disks, std::nullopt); }, clock);
    if (!facts) {
        report.error = facts.error();
        return report;
    }
    auto refusals = refusals_for(*found, *facts, std::nullopt);
    if (!refusals.empty()) {
        report.error = fmt("drive protected: {}", debug_string(refusals));
        return report;
    }

    report.file_write = file_test_verdict(disks, drive);

    auto volumes = run_with_time_limit(
        std::chrono::seconds(kVolumesSeconds),
        [disks]() -> Result<std::vector<VolumeInfo>, std::string> {
            auto listed = disks->enumerate_volumes();
            if (!listed) return unexpected(fmt("volume enumeration: {}", listed.error().text));
            return std::move(*listed);
        },
        [] { return time_limit_text("volume enumeration", kVolumesSeconds); }, clock);
    if (!volumes) {
        report.error = volumes.error();
        return report;
    }

    auto locked =
        lock_and_dismount(disks, found->number, *volumes, [](LockStep, std::string_view) {});
    if (!locked) {
        report.error = locked.error().is(kInUse) ? fmt("drive in use: {}", locked.error().text)
                                                 : fmt("lock volumes: {}", locked.error().text);
        return report;
    }
    {
        uint32_t number = found->number;
        uint32_t sector = found->logical_sector;
        uint64_t size = found->size;
        auto opened = run_with_time_limit(
            std::chrono::seconds(kOpenSeconds),
            [disks, number, sector, size]() -> Result<RawDevice, std::string> {
                auto device = disks->open_raw(number, sector, size, health_check_config());
                if (!device) return unexpected(fmt("open disk: {}", device.error().text));
                return std::move(*device);
            },
            [] { return time_limit_text("opening the drive", kOpenSeconds); }, clock);
        if (!opened) {
            report.error = opened.error();
            return report;
        }
        run_raw_test(*opened, report, clock);
    }  // the device closes here, before the volume locks are released
    return report;
}

// --- What the rest of the program calls ---------------------------------------------

HealthReport check_health_logged(const Disks& disks, const DeviceInfo& drive) {
    HealthReport report = check_health(disks, drive);
    Logger::write(LogLevel::Info,
                  fmt("health check of disk {}: {}", drive.number, debug_string(report)));
    return report;
}

}  // namespace sw
