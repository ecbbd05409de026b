// The drive check's pieces: the file test and its file calls, where it may
// run, and the raw tests on an open device. health.h is what the rest of the
// program calls; this is how it is made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/clock.h"
#include "core/os_error.h"
#include "core/result.h"
#include "disk/device_info.h"
#include "disk/facts.h"
#include "disk/health.h"
#include "disk/linux_drive_facts.h"
#include "disk/raw_device.h"

namespace sw {

inline constexpr size_t kFileTestBytes = 1048576;
inline constexpr unsigned char kFileTestByte = 0x5A;
inline constexpr unsigned kFileTestSeconds = 25;
inline constexpr unsigned kFactsSeconds = 60;
inline constexpr unsigned kVolumesSeconds = 60;
inline constexpr unsigned kOpenSeconds = 30;
inline constexpr uint32_t kWritableQueryMs = 10000;
inline constexpr uint32_t kHealthWaitMs = 45000;
inline constexpr size_t kMiB = 1048576;
inline constexpr uint64_t kMaxReadTest = 32 * kMiB;
inline constexpr size_t kProbeBytes = 65536;

// Where the file test may write its file: a drive letter on Windows, a
// mounted file system of the drive on Linux.
struct FileTestTarget {
    std::string label;   // "E" for a letter, the mount point otherwise
    std::string root;    // "E:\" or the mount point
    std::string file;    // "E:\ortivex-write-test.tmp"
    std::string device;  // Linux: the mounted volume's "major:minor"; empty on Windows
};

// "E:\ortivex-write-test.tmp"
FileTestTarget letter_target(char letter);
// "/media/stick/ortivex-write-test.tmp"
FileTestTarget mount_point_target(const std::string& mount_point, const std::string& device);

// The file systems mounted from disk `number`, as file-test targets: every
// mount point of every volume on it, in volume order (Linux).
std::vector<FileTestTarget> mount_point_targets(uint32_t number,
                                                const std::vector<VolumeInfo>& volumes);

// The file system at a mount-point target, from the mount table: nothing when
// nothing is mounted there, when another file system covers it, or when it
// is mounted read-only (a read-only mount says nothing about the drive).
std::optional<std::string> mounted_file_system(const FileTestTarget& target,
                                               const std::vector<MountEntry>& mounts);

// The file systems the file test trusts to say something about the drive:
// FAT, FAT32, NTFS and exFAT, named as Windows names them (FAT, FAT32, NTFS,
// EXFAT) or as Linux does (vfat, msdos, ntfs, ntfs3, exfat). ASCII case is
// ignored.
bool file_system_qualifies(std::string_view name);

// One open test file. Ending the value closes it if close() was not called.
class TestFile {
  public:
    virtual ~TestFile() = default;
    virtual Result<void, OsError> write(std::span<const std::byte> data) = 0;
    // Commits the file to the device (FlushFileBuffers, fsync).
    virtual Result<void, OsError> flush() = 0;
    virtual Result<void, OsError> close() = 0;
};

// The file calls of the file test.
class FileOps {
  public:
    virtual ~FileOps() = default;
    // Creates the file, truncating an existing one, for writing.
    virtual Result<std::unique_ptr<TestFile>, OsError> create(const std::string& path) = 0;
    virtual Result<void, OsError> remove(const std::string& path) = 0;
};

// Creates the file, writes 1 MiB of 0x5A, flushes it, closes and deletes it.
// When the write or the flush fails the file is closed but left in place.
Result<void, OsError> run_file_test(FileOps& ops, const std::string& path);

// Why the file test failed: the system's error, or no answer in time.
struct FileTestError {
    std::optional<OsError> os;  // none: it did not finish in time
    std::string text;           // the system's text, or the time-limit text
};

// run_file_test on a thread named "filesystem write test", waiting at most
// 25 s (then the thread is abandoned).
Result<void, FileTestError> file_test_with_time_limit(std::shared_ptr<FileOps> ops,
                                                      const std::string& path, Clock& clock);

// Bytes per second over `bytes` and the seconds between two points, with a
// floor of 1 ms so that a tiny time never divides by zero.
double rate(uint64_t bytes, Clock::TimePoint from, Clock::TimePoint to);

// The raw read test and the write-back test on an open device; they set
// `read` and `write` of the report.
void run_raw_test(RawDevice& device, HealthReport& report, Clock& clock);

}  // namespace sw
