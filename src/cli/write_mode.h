// "--write PATH": validates the image, writes it to the test drive with the
// write job (which ejects the drive at the end), and prints one result line.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "disk/device_info.h"
#include "writer/write_job.h"

namespace sw {

struct WriteModeOutput {
    std::function<void(std::string_view)> emit;        // every line but progress
    std::function<void(std::string_view)> print_line;  // progress lines, standard output only
};

// `stop` set from outside (validation included) ends the mode as cancelled.
int write_mode_with(const DeviceInfo& drive, const std::string& image_path, bool verify,
                    std::shared_ptr<WriteSystem> system, const WriteModeOutput& out,
                    std::shared_ptr<std::atomic<bool>> stop);

// "OK total=… write=… (… MB/s) flush=… verify=… (… MB/s) digest=… eject=Ok(())"
std::string ok_line(double total_seconds, uint64_t image_size, const WriteReport& report);

}  // namespace sw
