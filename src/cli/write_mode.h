// "--write PATH": validates the image, writes it to the test drive with the
// write job (which ejects the drive at the end), and prints one result line.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "disk/device_info.h"
#include "machine/machine.h"
#include "writer/write_job.h"

namespace sw {

struct WriteModeOutput {
    std::function<void(std::string_view)> emit;        // every line but progress
    std::function<void(std::string_view)> print_line;  // progress lines, standard output only
};

// The mode on `machine`'s drives, image files and clock, its lines to
// `out`. `stop` set from outside (validation included) ends the mode as
// cancelled.
int write_mode(const std::shared_ptr<Machine>& machine, const DeviceInfo& drive,
               const std::string& image_path, bool verify, const WriteModeOutput& out,
               std::shared_ptr<std::atomic<bool>> stop);

}  // namespace sw
