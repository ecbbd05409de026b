// "--restore": gives the test drive one partition with an empty FAT32 or
// exFAT file system, through the restore job, and prints one result line.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "cli/write_mode.h"
#include "disk/device_info.h"
#include "writer/restore_job.h"

namespace sw {

// The mode on `machine`'s drives and clock, its lines to `out`. `stop` set
// from outside ends the restore as cancelled.
int restore_mode(const std::shared_ptr<Machine>& machine, const DeviceInfo& drive,
                 const WriteModeOutput& out, std::shared_ptr<std::atomic<bool>> stop);

// "restored: exFAT, 128 KiB clusters, 59.6 GiB; total=… write=… flush=…
// verify=… written=… refresh=Ok(())"
std::string restored_line(double total_seconds, const RestoreReport& report);

}  // namespace sw
