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

// How the system holds one block device of a listed disk (Linux: the sysfs
// holders and an exclusive open; Windows tells none).
struct KernelClaim {
    std::string name;  // "sdb2"
    std::string dev;   // "8:18"
    uint32_t disk = 0;
    std::vector<std::string> holders;
    // The answer of an exclusive open (tried on partitions, and on disks
    // without partitions): nullopt when it was granted or not tried.
    std::optional<OsError> exclusive_open;
};

// One swap area or page file. A swap file is named by the path it had when
// it was switched on; `intact` says the file found there now can still be
// that area (a file system mounted over the path since shows another one).
struct SwapPlace {
    std::string path;
    bool file = false;
    bool intact = true;
};

// Where the EFI system partition is: a path on its file system, or the
// device name of its volume (matched against the volume list).
struct BootPartitionPlace {
    std::string path;
    std::string volume_device;
};

// Where the running system keeps what must never be overwritten, as paths
// the system names; gathering the facts turns each into the disks under it
// through the drive seam. A place that cannot be learned carries the reason.
struct SystemPlaces {
    // The system's own files (every path of it: the root and /usr).
    Result<std::vector<std::string>, std::string> system;
    Result<std::string, std::string> boot;
    // nullopt: the machine has no EFI system partition.
    Result<std::optional<BootPartitionPlace>, std::string> boot_partition;
    Result<std::vector<SwapPlace>, std::string> swap;
    Result<std::string, std::string> executable;
    Result<std::vector<KernelClaim>, OsError> claims = std::vector<KernelClaim>{};
};

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
};

// The disks holding `path`: a network path lies on no local disk; otherwise
// the volume that holds it gives its disks.
DiskFact windows_disks_of_path(const std::vector<VolumeInfo>& volumes, const std::string& path,
                               WindowsPathQuery& query);

// What Windows answers when the facts are gathered.
class WindowsFactsSource {
  public:
    virtual ~WindowsFactsSource() = default;
    virtual std::optional<std::string> env(std::string_view name) = 0;
    // HKLM\SYSTEM\Setup "SystemPartition".
    virtual Result<std::string, OsError> system_partition() = 0;
    // HKLM\...\Memory Management "ExistingPageFiles".
    virtual Result<std::vector<std::string>, OsError> existing_page_files() = 0;
    virtual Result<std::string, OsError> current_exe() = 0;
};

// Where Windows lives: the Windows folder, the system drive, the system
// partition's device, the page files and this program.
SystemPlaces windows_system_places(WindowsFactsSource& source);

}  // namespace sw
