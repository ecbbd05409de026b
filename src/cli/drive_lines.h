// The drive lines of the headless modes.
#pragma once

#include <string>

#include "disk/device_info.h"
#include "disk/facts.h"

namespace sw {

// "['E', 'F']"
std::string letters_debug(const std::vector<char>& letters);

// "disk 1 bus=Usb removable=true size=… -> WRITABLE" (or "BLOCKED [..]").
std::string drive_line(const DeviceInfo& drive, const std::vector<Refusal>& refusals);

}  // namespace sw
