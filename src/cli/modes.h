// The headless modes, one file each.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "disk/device_info.h"
#include "machine/machine.h"

namespace sw {

using MachinePtr = std::shared_ptr<Machine>;

int list_drives_mode(const MachinePtr& machine);
int verify_image_mode(const MachinePtr& machine, const std::string& image_path);
int health_mode(const MachinePtr& machine);
std::optional<DeviceInfo> select_test_drive(const MachinePtr& machine, const std::string& serial);
int write_mode(const MachinePtr& machine, const DeviceInfo& drive, const std::string& image_path,
               bool verify);
int restore_mode(const MachinePtr& machine, const DeviceInfo& drive);
int run_benchmark(const MachinePtr& machine, const DeviceInfo& drive, uint64_t requested_mib);

}  // namespace sw
