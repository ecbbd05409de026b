// The headless face: one mode per run, plain text lines and an exit code.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "disk/device_info.h"
#include "machine/machine.h"

namespace sw {

enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,
    kExitRefused = 2,
    kExitNoTestDrive = 3,
};

// Writes one line to standard output, the transcript and the log (INFO).
void emit(std::string_view line);
// Writes one line to standard output only (the progress lines of --write).
void print_line(std::string_view line);

// The modes the dispatcher hands over to; each returns the exit code.
struct HeadlessModes {
    std::function<int()> list_drives;
    std::function<int(const std::string& image_path)> verify_image;
    std::function<int()> health;
    // Emits the reason and returns nothing when no drive may be used.
    std::function<std::optional<DeviceInfo>(const std::string& serial)> select_test_drive;
    std::function<int(const DeviceInfo& drive, const std::string& image_path, bool verify)> write;
    std::function<int(const DeviceInfo& drive, uint64_t mib)> benchmark;
    std::function<int(const DeviceInfo& drive)> restore;
};

// The modes of this build, on `machine`.
HeadlessModes product_modes(std::shared_ptr<Machine> machine);

// The dispatch rules, first match decides. `serial` is the value of
// ORTIVEX_TEST_USB_SERIAL (absent when unset or not valid text).
int dispatch(const std::vector<std::string>& args, const std::optional<std::string>& serial,
             const HeadlessModes& modes, const std::function<void(std::string_view)>& out);

// "--bench-mib" value: the argument after its first occurrence; 1024 when
// missing or not an unsigned decimal number.
uint64_t bench_mib(const std::vector<std::string>& args);

// Console, log, transcript, banner, then dispatch. Returns the exit code.
int run_headless(const std::vector<std::string>& args, std::shared_ptr<Machine> machine);

}  // namespace sw
