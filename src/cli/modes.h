// The headless modes, one file each.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "disk/device_info.h"

namespace sw {

int list_drives_mode();
int verify_image_mode(const std::string& image_path);
int health_mode();
std::optional<DeviceInfo> select_test_drive(const std::string& serial);
int write_mode(const DeviceInfo& drive, const std::string& image_path, bool verify);
int run_benchmark(const DeviceInfo& drive, uint64_t requested_mib);

}  // namespace sw
