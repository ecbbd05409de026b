// The drives of this machine: what the rest of the program calls to list
// disks, re-identify the chosen one, learn where the running system lives,
// take a disk's volumes away and open it raw.
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
#include <optional>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/os_error.h"
#include "core/result.h"
#include "disk/device_info.h"
#include "disk/facts.h"
#include "disk/raw_device.h"

namespace sw {

// The disk walk: every present disk, sorted by number, without letters and
// speeds. Fails only when the walk cannot start; disks that do not answer
// are left out.
Result<std::vector<DeviceInfo>, OsError> enumerate_disks();

// Every volume of the machine with the disks it rests on. Fails only when
// the volume search cannot start.
Result<std::vector<VolumeInfo>, OsError> enumerate_volumes();

// The disks with their letters and, for USB disks, their speed. A failing
// volume search only leaves the letters empty.
Result<std::vector<DeviceInfo>, OsError> list_drives();

// The disk that now carries the expected number, if it is still the same
// drive (see identify_drive_with for the texts). Waits at most 30 s.
Result<DeviceInfo, std::string> identify_drive(const DeviceIdentity& expected);

// Where the running system lives, with the selected image if any. Never
// fails as a whole: what cannot be learned is a reason in its fact.
SystemFacts gather_system_facts(const std::optional<std::string>& image_path);

// The disks holding `path` (Windows: through the volume that holds it;
// Linux: through the block device of its file system).
DiskFact disks_of_path(const std::vector<VolumeInfo>& volumes, const std::string& path);

// Opens disk `number` for raw transfers with `config` (depth clamped to
// 1..16). `sector` is the disk's logical sector size, `size` its size.
Result<RawDevice, OsError> open_raw(uint32_t number, uint32_t sector, uint64_t size,
                                    const IoConfig& config, Clock& clock = real_clock());

// open_raw with the health-check configuration on a thread named "opening
// the drive", waiting at most 30 s; the error is the OS error's text or the
// time-limit text.
Result<RawDevice, std::string> open_raw_with_time_limit(uint32_t number, uint32_t sector,
                                                        uint64_t size, Clock& clock = real_clock());

// Takes the volumes of disk `number` away from the system for one job (see
// lock_and_dismount_with); on Linux the disk is then also held open
// exclusively, so that nothing mounts it again while the job runs.
Result<LockedVolumes, OsError> lock_and_dismount(uint32_t number,
                                                 const std::vector<VolumeInfo>& volumes,
                                                 const LockProgress& progress,
                                                 Clock& clock = real_clock());

}  // namespace sw
