// How simulated drives join the real ones (development builds only): they
// are listed as USB disks, they are added to every volume of a disk they are
// a view of, and they are opened through the platform's real engine with
// their faults injected.
//
// What the safety facts mean for them: a simulated drive is its backing
// file, not the disk that file lives on. So a drive backed by a file on the
// root file system is not the root disk, and writing it cannot harm the
// system. It does hold whatever lies in that file: a fact whose path is the
// backing file itself (the selected image, say), or a volume of a system
// disk that is a view of the same data (a loop device of the file, or the
// block device that backs the drive), counts for the simulated drive too,
// so ContainsImage and the system refusals apply to it unchanged.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/clock.h"
#include "core/os_error.h"
#include "core/result.h"
#include "disk/device_info.h"
#include "disk/raw_device.h"
#include "disk/simulated/simulated.h"

namespace sw::simulated {

// The configured drive with that number, present or not.
std::optional<SimulatedDrive> configured_drive(uint32_t number);

// Appends the configured drives that are present (their backing can be
// probed and they were not removed), unless a system disk already uses a
// number of the simulated range.
void add_disks(SimulatedStates& states, std::vector<DeviceInfo>& disks);

// Adds each simulated drive to the volumes of the system disks it is a view of.
void add_to_volumes(SimulatedStates& states, std::vector<VolumeInfo>& volumes);

// Simulated drives backed by the very file `path` names.
std::vector<uint32_t> disks_holding(SimulatedStates& states, const std::string& path);

// The configured speed of a simulated drive.
std::optional<UsbSpeed> speed_of(uint32_t number);

// Adds to the disks the system holds (disk, reason) the present drives that
// are views of a held disk, and those this run could not open for writing.
void add_held(SimulatedStates& states, std::vector<std::pair<uint32_t, std::string>>& held);

// Opens a simulated drive through the platform's engine with its faults.
Result<RawDevice, OsError> open(SimulatedStates& states, uint32_t number, uint32_t sector,
                                uint64_t size, const IoConfig& config, Clock& clock);

using DiskLockStep = std::function<Result<std::unique_ptr<VolumeLock>, OsError>(uint32_t)>;

// A simulated drive's claim for a job: its backing file's own claim (a
// block device is claimed as the system disk it is), and the claims of the
// system disks that are views of the same data, taken with
// `claim_system_disk`. So two jobs on one backing meet however they name it.
Result<std::unique_ptr<VolumeLock>, OsError> claim(SimulatedStates& states, uint32_t number,
                                                   const DiskLockStep& claim_system_disk);

// What holds a simulated drive for a job: the system disk that backs it, if
// any (`hold` is the platform's way of holding a disk); nothing for a file.
Result<std::unique_ptr<VolumeLock>, OsError> hold(
    uint32_t number,
    const std::function<Result<std::unique_ptr<VolumeLock>, OsError>(uint32_t)>& hold_system_disk);

}  // namespace sw::simulated
