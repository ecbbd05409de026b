// The decisions of the Linux build's drive adapters: which block devices
// are disks, what bus a disk hangs on, how a path, a partition, a
// device-mapper or md device or a loop device leads back to whole disks, and
// where the running system lives. The adapter reads sysfs and /proc; these
// rules read its answers, so they run against recorded ones.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/os_error.h"
#include "core/text.h"
#include "core/result.h"
#include "disk/device_info.h"
#include "disk/facts.h"

namespace sw {

// --- sysfs -------------------------------------------------------------------

// Block devices that are never disks of the drive list: RAM disks, zram,
// device-mapper and md devices (they are volumes on other disks), optical
// drives, and loop devices without a backing file.
bool is_listed_disk(std::string_view kernel_name, bool loop_attached);
// RAM-backed devices: they lie on no disk at all.
bool is_ram_device(std::string_view kernel_name);

// The bus of a disk from its resolved sysfs device path
// (/sys/devices/pci0000:00/.../usb2/2-1/2-1:1.0/host6/.../block/sdb), coded
// like the storage bus types of Windows: USB 7, SD 12 (MMC cards 13), ATA
// and SATA 11, NVMe 17, virtio 14, loop 15, other SCSI 1, otherwise 0.
// `mmc_type` is the card's "type" attribute ("SD", "MMC") when it has one.
uint32_t bus_code_of_sysfs_path(std::string_view device_path, std::string_view mmc_type);

// A USB device's "speed" attribute (Mbit/s: 1.5, 12, 480, 5000, 10000, 20000).
std::optional<UsbSpeed> usb_speed_of_mbps(std::string_view speed);

// --- mounts ------------------------------------------------------------------

struct MountEntry {
    uint32_t id = 0;      // the mount's ID
    uint32_t parent = 0;  // the ID of the mount it is mounted on
    uint32_t major = 0;
    uint32_t minor = 0;
    std::string mount_point;
    std::string mount_options;  // this mount's own ("rw,nosuid,relatime")
    std::string fs_type;
    std::string source;
    std::string super_options;
};

// /proc/self/mountinfo, escapes (\040 and the like) resolved; malformed lines
// are skipped.
std::vector<MountEntry> parse_mountinfo(std::string_view text);

// How the file systems of one drive come off: `order` holds the drive's
// mounts, each before the mount it sits on (innermost first). `foreign` is
// the mount point of a mount that is not the drive's but sits on one of
// them (a file system mounted over the drive's mount point or inside it):
// the drive is then in use, and nothing may be unmounted.
struct UnmountPlan {
    std::vector<MountEntry> order;
    std::optional<std::string> foreign;
};
UnmountPlan plan_unmounts(const std::vector<MountEntry>& mounts,
                          const std::function<bool(const MountEntry&)>& of_drive);

// The mount that a path resolves to now: the last one mounted at that mount
// point (the one on top of any it covers); nullptr when none is.
const MountEntry* top_mount_at(const std::vector<MountEntry>& mounts, const std::string& point);

struct SwapArea {
    std::string path;
    std::string type;       // "partition", "file"
    uint64_t size_kib = 0;  // its usable size
};
std::vector<SwapArea> parse_swap_areas(std::string_view text);

// "major:minor"
std::string dev_text(uint32_t major, uint32_t minor);

// --- locating paths ----------------------------------------------------------

struct PathStat {
    bool block_device = false;  // the path is a block device node
    uint32_t major = 0;         // the node's device (block) or the file system's
    uint32_t minor = 0;
    bool regular = false;  // a regular file, `size` bytes long
    uint64_t size = 0;
};

// What locating a path needs from the system.
class LinuxPathQuery {
  public:
    virtual ~LinuxPathQuery() = default;
    virtual Result<PathStat, OsError> stat(const std::string& path) = 0;
    // The block devices ("major:minor") of the btrfs file system mounted
    // from `mount`, or why they cannot be listed.
    virtual Result<std::vector<std::string>, std::string> btrfs_devices(const MountEntry& mount) {
        return unexpected(
            fmt("the devices of the btrfs file system at {} are not known", mount.mount_point));
    }
};

// The disks holding `path`, through the volume of its block device.
DiskFact linux_disks_of_path(const std::vector<VolumeInfo>& volumes,
                             const std::vector<MountEntry>& mounts, const std::string& path,
                             LinuxPathQuery& query);

// --- volumes -----------------------------------------------------------------

// One block device as sysfs shows it.
struct BlockNode {
    std::string name;                         // kernel name: "sda1", "dm-0", "loop3"
    std::string dev;                          // "major:minor"
    std::optional<std::string> parent;        // partitions: the whole disk's kernel name
    std::vector<std::string> slaves;          // device-mapper and md members
    std::optional<std::string> loop_backing;  // attached loop devices: the backing file
    bool ram = false;
    std::vector<std::string> holders{};  // what the kernel stacked on it (sysfs "holders")
};

// Every block device as a volume (partitions, whole disks, stacked devices),
// with the whole-disk numbers it rests on: partitions lead to their disk,
// stacked devices to their members' disks, loop devices to themselves and to
// the disks of their backing file, RAM devices to none. `numbers` maps
// listed disks' kernel names to their numbers.
std::vector<VolumeInfo> linux_volumes(const std::vector<BlockNode>& nodes,
                                      const std::map<std::string, uint32_t>& numbers,
                                      const std::vector<MountEntry>& mounts, LinuxPathQuery& query);

// --- facts -------------------------------------------------------------------

class LinuxFactsSource : public LinuxPathQuery {
  public:
    // Every block device of the listed disks as the kernel holds it.
    virtual Result<std::vector<KernelClaim>, OsError> claims() {
        return std::vector<KernelClaim>{};
    }
    virtual Result<std::string, OsError> mountinfo() = 0;
    virtual Result<std::string, OsError> swaps() = 0;
    virtual Result<std::string, OsError> current_exe() = 0;
    // The firmware booted through UEFI (/sys/firmware/efi exists).
    virtual bool uefi_firmware() = 0;
};

// Where Linux lives: the root file system and /usr, /boot, the EFI system
// partition's mount, the swap areas, this program and the kernel's claims.
// Fails as a whole when the mount table cannot be read.
Result<SystemPlaces, std::string> linux_system_places(LinuxFactsSource& source);

}  // namespace sw
