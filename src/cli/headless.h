// The headless face: one mode per run, plain text lines and an exit code.
#pragma once

#include <cstdint>
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

// What a run asks for, as the dispatch rules read its arguments.
struct HeadlessRequest {
    enum Mode {
        ListDrives,
        VerifyImage,
        Health,
        Refused,  // prints `line`, exit code 2
        // The modes from here on run on the test drive, selected first by
        // `serial`; a run without one ends with exit code 3.
        Write,
        Restore,
        Benchmark,
        NothingToDo,  // prints "nothing to do", exit code 2
    };
    Mode mode = Refused;
    std::string line{};        // Refused
    std::string image_path{};  // VerifyImage, Write
    bool verify = true;        // Write
    uint64_t mib = 0;          // Benchmark
    std::string serial{};      // the test drive's modes
};

bool on_test_drive(const HeadlessRequest& request);

// The dispatch rules, first match decides. `serial` is the value of
// ORTIVEX_TEST_USB_SERIAL (absent when unset or not valid text).
HeadlessRequest dispatch(const std::vector<std::string>& args,
                         const std::optional<std::string>& serial);

// Runs the request's mode on `machine` (selecting the test drive first where
// the mode needs it) and returns the exit code.
int run_request(const HeadlessRequest& request, const std::shared_ptr<Machine>& machine);

// "--bench-mib" value: the argument after its first occurrence; 1024 when
// missing or not an unsigned decimal number.
uint64_t bench_mib(const std::vector<std::string>& args);

// Console, log, transcript, banner, then dispatch. Returns the exit code.
int run_headless(const std::vector<std::string>& args, std::shared_ptr<Machine> machine);

}  // namespace sw
