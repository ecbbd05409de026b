// What each platform directory provides to the drive check and to eject:
// thin adapters over the system's file, volume and device calls. The
// decisions are made by the rules in health.cpp and eject.cpp.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "disk/device_info.h"
#include "disk/disk_system.h"
#include "disk/eject_steps.h"
#include "disk/health_check.h"

namespace sw::platform {

// CreateFileW / WriteFile / FlushFileBuffers / DeleteFileW; open / write /
// fsync / unlink.
std::shared_ptr<FileOps> file_ops();

// Windows: the listed drive's letters, in order. Linux: the mount points of
// the file systems mounted from the drive, in volume order (from `volumes`;
// none when the volume search failed).
std::vector<FileTestTarget> file_test_targets(
    const DeviceInfo& drive, const Result<std::vector<VolumeInfo>, OsError>& volumes);

// The name of the file system at a target; nothing when it cannot be learned
// (and, on Linux, when it is mounted read-only or covered by another mount).
std::optional<std::string> file_system_name(const FileTestTarget& target);

// Eject requests and the layout refresh of this system's own disks, which
// are re-identified through `disks`.
std::unique_ptr<EjectSystem> eject_system(std::shared_ptr<DiskSystem> disks);

}  // namespace sw::platform
