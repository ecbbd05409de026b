// Development builds only: making the system facts determinable where the
// system cannot tell which disk its volumes rest on. Wine's volumes do not
// report their disks (IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS fails), so every
// fact that goes through a volume stays undetermined and every drive, the
// simulated ones included, is refused. ORTIVEX_SIMULATED_SYSTEM_DISK=N says
// that such volumes rest on disk N. The rules stay as they are: the volumes
// merely get a disk, the one the system would have named, and that disk's
// drives are refused as the system's. N may not be a simulated drive's
// number, so that no simulated drive ever carries the system.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "disk/device_info.h"

namespace sw::simulated {

inline constexpr std::string_view kSystemDiskVariable = "ORTIVEX_SIMULATED_SYSTEM_DISK";

// A decimal disk number below the simulated range; nothing otherwise.
std::optional<uint32_t> parse_system_disk(std::string_view text);

// Gives every volume without disks the disk `number`; returns one line per
// volume it changed ("volume NAME (device DEVICE, letters C:) taken to rest
// on disk N").
std::vector<std::string> assume_system_disk(std::vector<VolumeInfo>& volumes, uint32_t number);

// assume_system_disk with the variable's number when it is set; a value that
// is not a usable number changes nothing. What it did or refused is logged
// once per run.
void apply_system_disk(std::vector<VolumeInfo>& volumes);

}  // namespace sw::simulated
