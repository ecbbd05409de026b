// Reading the kernel's block device tree (/sys/block, /sys/class/block).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/os_error.h"
#include "core/result.h"
#include "disk/device_info.h"
#include "disk/linux_drive_facts.h"

namespace sw::platform::linux_disk {

// One attribute file, without its trailing line feed; nullopt when unreadable.
std::optional<std::string> attribute(const std::filesystem::path& file);
// A whole file; the error when it cannot be read.
Result<std::string, OsError> read_file(const std::string& path);

// A disk of the drive list with its kernel name.
struct ListedDisk {
    std::string name;  // "sdb"
    std::string dev;   // "8:16"
    std::optional<std::string> loop_backing;
    DeviceInfo info;
};

// Every disk of the drive list, sorted by number. Fails when /sys/block
// cannot be read.
Result<std::vector<ListedDisk>, OsError> listed_disks();

// Every block device of /sys/class/block (attached loops only).
Result<std::vector<BlockNode>, OsError> block_nodes();

// The disk number of a kernel name (its disk sequence number).
std::optional<uint32_t> disk_number(const std::string& name);

// The kernel name of the block device "major:minor", if it is a listed disk.
std::optional<uint32_t> disk_number_of_dev(uint32_t major, uint32_t minor);

// stat() as the locating rules want it.
Result<PathStat, OsError> stat_path(const std::string& path);

// The devices of the btrfs file system mounted from `mount` (its source is
// one of them), from /sys/fs/btrfs/<fsid>/devices.
Result<std::vector<std::string>, std::string> btrfs_devices_of(const MountEntry& mount);

}  // namespace sw::platform::linux_disk
