// Re-identifying a drive chosen earlier, so that nothing is done to a disk
// that was swapped for another one under the same number.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/os_error.h"
#include "core/result.h"
#include "disk/device_info.h"

namespace sw {

using DiskEnumerator = std::function<Result<std::vector<DeviceInfo>, OsError>()>;

// Runs `enumerate` on a thread named "drive identification" and waits at
// most 30 s. Returns the disk that now carries the expected number when its
// identity is the expected one; otherwise one of the texts "disk enumeration
// failed: {}", "disk {} is no longer present", "expected {}, found {}" or
// the time-limit text. A late answer is dropped.
Result<DeviceInfo, std::string> identify_drive_with(const DeviceIdentity& expected,
                                                    DiskEnumerator enumerate,
                                                    Clock& clock = real_clock());

}  // namespace sw
