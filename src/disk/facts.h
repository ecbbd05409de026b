// Where the running system lives, and the reasons why a drive must not be
// written. A fact that cannot be learned is never taken as harmless: it
// becomes a reason of its own (Undetermined) on every drive.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/os_error.h"
#include "core/result.h"
#include "disk/device_info.h"

namespace sw {

// The disks on which one thing lives (possibly empty, possibly with
// repeats), or why they could not be found out.
using DiskFact = Result<std::vector<uint32_t>, std::string>;

// Ok([1, 2]) or Err("...").
std::string debug_string(const DiskFact& fact);

// The six things that must never be overwritten:
//   system_volume   Windows: the Windows folder's volume; Linux: the root
//                   file system (and /usr)
//   boot_volume     Windows: the system drive; Linux: /boot, where the kernel
//                   lives (the root when there is none)
//   boot_partition  the EFI system partition
//   swap            Windows: every page file; Linux: every swap area in /proc/swaps
//   executable      the running program's file
//   image           the selected image (an empty list when none is selected)
// Their text (debug_string) keeps the names the run log has always shown:
// windows, system_drive, boot_partition, pagefile, executable, image.
struct SystemFacts {
    DiskFact system_volume;
    DiskFact boot_volume;
    DiskFact boot_partition;
    DiskFact swap;
    DiskFact executable;
    DiskFact image;
    // Disks the system holds for something none of the above accounts for
    // (Linux: a holder in sysfs, or an exclusive open refused while nothing
    // of the disk is mounted), each with the reason; none on Windows.
    std::vector<std::pair<uint32_t, std::string>> held = {};
};

// SystemFacts { windows: Ok([0]), system_drive: Ok([0]), ... }
std::string debug_string(const SystemFacts& facts);

struct Refusal {
    enum Kind {
        NotUsb,
        Windows,
        SystemDrive,
        BootPartition,
        Pagefile,
        Executable,
        ContainsImage,
        Undetermined,  // carries `text`
        NoMedia,
        TooSmall,  // carries `need`
    };
    Kind kind = NotUsb;
    std::string text;
    uint64_t need = 0;

    friend bool operator==(const Refusal&, const Refusal&) = default;
};

// NotUsb, Undetermined("text"), TooSmall { need: 4294967296 }
std::string debug_string(const Refusal& refusal);
// [NotUsb, SystemDrive] (the drive list prints it after "BLOCKED")
std::string debug_string(const std::vector<Refusal>& refusals);

// The ordered reasons why `drive` must not be written; empty means it may be.
std::vector<Refusal> refusals_for(const DeviceInfo& drive, const SystemFacts& facts,
                                  std::optional<uint64_t> image_size);

// --- Windows -----------------------------------------------------------------

// The volume calls that locate a path.
class WindowsPathQuery {
  public:
    virtual ~WindowsPathQuery() = default;
    // GetVolumePathNameW: the mount point of the volume holding `path`.
    virtual Result<std::string, OsError> volume_path_name(const std::string& path) = 0;
    // GetVolumeNameForVolumeMountPointW: the volume GUID path of a mount point.
    virtual Result<std::string, OsError> volume_name_for_mount_point(
        const std::string& mount_point) = 0;
    // GetDriveTypeW says DRIVE_REMOTE.
    virtual bool is_remote_drive(const std::string& root) = 0;
    // Disks that hold `path` without any volume knowing it: simulated drives
    // backed by that very file (development builds); none in the product.
    virtual std::vector<uint32_t> extra_disks_of(const std::string&) { return {}; }
};

// The disks holding `path`: a network path lies on no local disk; otherwise
// the volume that holds it gives its disks.
DiskFact windows_disks_of_path(const std::vector<VolumeInfo>& volumes, const std::string& path,
                               WindowsPathQuery& query);

// What Windows answers when the facts are gathered.
class WindowsFactsSource : public WindowsPathQuery {
  public:
    virtual Result<std::vector<VolumeInfo>, OsError> volumes() = 0;
    virtual std::optional<std::string> env(std::string_view name) = 0;
    // HKLM\SYSTEM\Setup "SystemPartition".
    virtual Result<std::string, OsError> system_partition() = 0;
    // HKLM\...\Memory Management "ExistingPageFiles".
    virtual Result<std::vector<std::string>, OsError> existing_page_files() = 0;
    virtual Result<std::string, OsError> current_exe() = 0;
};

SystemFacts gather_windows_facts(WindowsFactsSource& source,
                                 const std::optional<std::string>& image_path);

}  // namespace sw
