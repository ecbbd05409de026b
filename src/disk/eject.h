// Ejecting a finished drive, and refreshing the drive list when drives come
// and go.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/result.h"
#include "disk/device_info.h"
#include "disk/facts.h"

namespace sw {

class DiskSystem;

// Success, or why the drive could not be ejected.
using EjectOutcome = Result<void, std::string>;
// Ok(()) or Err("…")
std::string debug_string(const EjectOutcome& outcome);

// Re-identifies the drive and asks the system to eject it: up to three
// requests, with pauses of 500, 1000 and 1500 ms on the seam's clock after
// each refusal; when that fails, asks the system to re-read the disk's layout.
EjectOutcome eject_drive(const std::shared_ptr<DiskSystem>& disks, const DeviceInfo& drive);

// Asks the system to read disk `number`'s partition table again
// (IOCTL_DISK_UPDATE_PROPERTIES; BLKRRPART on Linux). The error is
// "{request}: {system error}".
Result<void, std::string> refresh_layout(const std::shared_ptr<DiskSystem>& disks, uint32_t number);

// The operator's eject: eject_drive, with the outcome logged.
EjectOutcome eject_on_request(const std::shared_ptr<DiskSystem>& disks, const DeviceInfo& drive);

// One drive scan: the drive list and the system facts gathered right after it.
struct DriveScan {
    std::vector<DeviceInfo> drives;
    SystemFacts facts;
};
// Lists the drives and gathers the facts (with the selected image).
DriveScan scan_drives(const std::shared_ptr<DiskSystem>& disks,
                      const std::optional<std::string>& image_path);

}  // namespace sw
