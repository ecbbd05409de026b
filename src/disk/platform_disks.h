// What each platform directory provides to the drive layer: thin adapters
// over the system's disk, volume and file calls, which platform_disk_system
// turns into the DiskSystem seam. Every decision is made by the rules these
// adapters feed (windows_drive_records, facts, linux_drive_facts). Nothing outside the
// drive layer and its simulated drives calls these directly.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/os_error.h"
#include "core/result.h"
#include "disk/device_info.h"
#include "disk/disk_system.h"
#include "disk/facts.h"
#include "disk/raw_device.h"

namespace sw::platform {

// The system's own disks (never simulated ones), sorted, no letters or speed.
Result<std::vector<DeviceInfo>, OsError> enumerate_system_disks();
Result<std::vector<VolumeInfo>, OsError> enumerate_system_volumes();
std::optional<UsbSpeed> usb_speed_of(const DeviceInfo& drive);

Result<SystemPlaces, std::string> system_places();
DiskFact locate_path(const std::vector<VolumeInfo>& volumes, const std::string& path);

// The path that opens disk `number` ("\\.\PhysicalDrive3", "/dev/sdb").
Result<std::string, OsError> disk_path(uint32_t number);
// Opens a disk, or any file opened the same way, for overlapped transfers.
Result<std::unique_ptr<AsyncDisk>, OsError> open_async(const std::string& path,
                                                       const OpenMode& mode, size_t slots);
// What the system calls the writable query of those disks, for the log
// ("IOCTL_DISK_IS_WRITABLE"; "BLKROGET" on Linux).
std::string_view writable_query_name();

std::unique_ptr<VolumeLocker> volume_locker();

// One attempt to claim the disk or file at `path` for one job against every
// other claim of the same disk or file, in any process (Linux: an exclusive
// flock on it; Windows: a named object keyed by the disk number or by the
// file's identity). An error with the in-use trait while another holds it.
Result<std::unique_ptr<VolumeLock>, OsError> claim_path(const std::string& path);

}  // namespace sw::platform
