// The drives of this machine: listing disks, re-identifying the chosen one,
// learning where the running system lives and taking a disk's volumes away,
// all through the DiskSystem seam. The rules take the system by shared
// ownership because a step that runs out of time is abandoned on its own
// thread, which then still holds it.
//
// Disk numbers. On Windows a disk's number is the system's own (the N of
// \\.\PhysicalDriveN). On Linux it is the kernel's disk sequence number
// (/sys/block/X/diskseq): unique for every disk the kernel has seen since it
// started, so it is stable while the disk stays, never reused for another
// disk or medium, and maps back to the device node by looking for the block
// device with that sequence number. Simulated drives of development builds
// take numbers from 4000000000 up, where neither system ever counts.
#pragma once

#include <cstdint>
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

namespace sw {

using Disks = std::shared_ptr<DiskSystem>;

// The disks with their letters and, for USB disks, their speed. A failing
// volume search only leaves the letters empty.
Result<std::vector<DeviceInfo>, OsError> list_drives(const Disks& disks);

// The disk that now carries the expected number, if it is still the same
// drive. Asks `disks` for the disk list on a thread named "drive
// identification" and waits at most 30 s on its clock; a late answer is
// dropped. Otherwise one of the texts "disk enumeration failed: {}", "disk {}
// is no longer present", "expected {}, found {}" or the time-limit text.
Result<DeviceInfo, std::string> identify_drive(const Disks& disks, const DeviceIdentity& expected);

// Where the running system lives, with the selected image if any. Never
// fails as a whole: what cannot be learned is a reason in its fact.
SystemFacts gather_system_facts(const Disks& disks, const std::optional<std::string>& image_path);

// Takes the volumes of disk `number` away from the system for one job, through
// the seam's volume locker and waiting on its clock. First claims the disk
// (claim_disk), so that a second job on it fails before it touches anything.
// Then locks and dismounts every volume that lies on the disk, in list order.
// A volume without medium is skipped; a volume whose lock is refused 20 times
// fails with "{lock_name} failed on {}: {}" ("FSCTL_LOCK_VOLUME failed on E::
// ..." on Windows), a dismount that times out with "{dismount_name} on {}: {}"
// (both with the in-use trait: the drive is in use); other failures are the
// system's errors. Locks taken so far are released when it fails. On Linux
// the disk is then also held open exclusively, so that nothing mounts it
// again while the job runs.
Result<LockedVolumes, OsError> lock_and_dismount(const Disks& disks, uint32_t number,
                                                 const std::vector<VolumeInfo>& volumes,
                                                 const LockProgress& progress);

}  // namespace sw
