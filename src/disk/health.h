// The drive check: whether a USB drive works before anything is written to
// it, without changing a byte of its content. Also the two tests the write
// job runs right before erasing: the write-acceptance probe and, when that
// fails, the file-system diagnosis.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/os_error.h"
#include "core/result.h"
#include "disk/device_info.h"
#include "disk/raw_device.h"

namespace sw {

class DiskSystem;

// The outcome of one test.
struct Verdict {
    enum Kind { Pass, NoResponse, WriteProtected, Failed, Skipped };
    Kind kind = Skipped;
    std::optional<double> speed;  // Pass: bytes per second
    std::string text;             // Failed: how

    friend bool operator==(const Verdict&, const Verdict&) = default;
};

// Pass(Some(1048576.0)), Pass(None), NoResponse, WriteProtected, Failed("…"), Skipped
std::string debug_string(const Verdict& verdict);

// A timed-out error gives NoResponse, write protection WriteProtected,
// anything else Failed with the error's text.
Verdict verdict_of_error(const OsError& error);

struct HealthReport {
    std::string drive;  // drive_label
    Verdict file_write;
    Verdict read;
    Verdict write;
    std::optional<std::string> error;  // why the check stopped before the raw tests
};

// HealthReport { drive: "…", file_write: …, read: …, write: …, error: None }
std::string debug_string(const HealthReport& report);
// No error, read and write Pass, file write Pass or Skipped.
bool is_healthy(const HealthReport& report);

// The whole check of one listed drive (with its letters). Never fails as a whole.
HealthReport check_health(const std::shared_ptr<DiskSystem>& disks, const DeviceInfo& drive);

// The window's "Check drive": check_health, with the report logged.
HealthReport check_health_logged(const std::shared_ptr<DiskSystem>& disks, const DeviceInfo& drive);

// The write-acceptance probe: read the first 64 KiB and write the same bytes back.
struct WriteProbeTimes {
    uint64_t read_ms = 0;
    uint64_t write_ms = 0;
};
struct WriteProbeFailure {
    std::string step;  // "writable query", "raw read of the first 64 KiB", …
    OsError error;
};
Result<WriteProbeTimes, WriteProbeFailure> probe_writable(const std::shared_ptr<DiskSystem>& disks,
                                                          RawDevice& device);

// Whether the system can still write files to the drive: one line of text.
std::string filesystem_diagnosis(const std::shared_ptr<DiskSystem>& disks,
                                 std::optional<char> letter);

}  // namespace sw
