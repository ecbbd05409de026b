#include "cli/headless.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <mutex>

#include "core/version.h"
#include "cli/modes.h"
#include "core/text.h"
#include "logging/logger.h"
#include "core/system.h"

namespace sw {

namespace {

std::mutex g_out_mutex;
std::ofstream g_transcript;  // open for the whole run when the log directory exists

bool has(const std::vector<std::string>& args, std::string_view flag) {
    return std::find(args.begin(), args.end(), flag) != args.end();
}

// The argument after the first occurrence of `flag`, if there is one.
std::optional<std::string> value_after(const std::vector<std::string>& args,
                                       std::string_view flag) {
    auto it = std::find(args.begin(), args.end(), flag);
    if (it == args.end() || it + 1 == args.end()) return std::nullopt;
    return *(it + 1);
}

bool is_option(std::string_view arg) {
    static constexpr std::string_view kOptions[] = {
        "--list-drives", "--verify-image", "--health",    "--enable-destructive-usb-tests",
        "--write",       "--no-verify",    "--benchmark", "--bench-mib",
        "--restore"};
    return std::find(std::begin(kOptions), std::end(kOptions), arg) != std::end(kOptions);
}

void write_stdout(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace

void emit(std::string_view line) {
    {
        std::lock_guard<std::mutex> lock(g_out_mutex);
        write_stdout(line);
        if (g_transcript.is_open()) {
            g_transcript.write(line.data(), static_cast<std::streamsize>(line.size()));
            g_transcript.put('\n');
            g_transcript.flush();
        }
    }
    Logger::write(LogLevel::Info, line);
}

void print_line(std::string_view line) {
    std::lock_guard<std::mutex> lock(g_out_mutex);
    write_stdout(line);
}

uint64_t bench_mib(const std::vector<std::string>& args) {
    auto value = value_after(args, "--bench-mib");
    if (!value) return 1024;
    return parse_u64_decimal(*value).value_or(1024);
}

int dispatch(const std::vector<std::string>& args, const std::optional<std::string>& serial,
             const HeadlessModes& modes, const std::function<void(std::string_view)>& out) {
    if (has(args, "--list-drives")) return modes.list_drives();
    if (auto path = value_after(args, "--verify-image")) return modes.verify_image(*path);
    if (has(args, "--health")) return modes.health();
    if (!has(args, "--enable-destructive-usb-tests")) {
        out("refused: destructive modes need --enable-destructive-usb-tests");
        return kExitRefused;
    }
    std::string test_serial = serial.value_or("");
    if (trim(test_serial).empty()) {
        out("refused: set ORTIVEX_TEST_USB_SERIAL to the serial number of the test drive");
        return kExitRefused;
    }
    if (auto image = value_after(args, "--write")) {
        // "--write --no-verify" names no image: an option word is never the
        // path of the image to erase a drive with.
        if (is_option(*image)) {
            out(fmt("refused: missing image path after --write (found {})", *image));
            return kExitRefused;
        }
        auto drive = modes.select_test_drive(test_serial);
        if (!drive) return kExitNoTestDrive;
        return modes.write(*drive, *image, !has(args, "--no-verify"));
    }
    auto drive = modes.select_test_drive(test_serial);
    if (!drive) return kExitNoTestDrive;
    if (has(args, "--restore")) return modes.restore(*drive);
    if (has(args, "--benchmark")) return modes.benchmark(*drive, bench_mib(args));
    out("nothing to do");
    return kExitRefused;
}

HeadlessModes product_modes(std::shared_ptr<Machine> machine) {
    return HeadlessModes{
        .list_drives = [machine] { return list_drives_mode(machine); },
        .verify_image =
            [machine](const std::string& path) { return verify_image_mode(machine, path); },
        .health = [machine] { return health_mode(machine); },
        .select_test_drive =
            [machine](const std::string& serial) { return select_test_drive(machine, serial); },
        .write = [machine](const DeviceInfo& drive, const std::string& path,
                           bool verify) { return write_mode(machine, drive, path, verify); },
        .benchmark = [machine](const DeviceInfo& drive,
                               uint64_t mib) { return run_benchmark(machine, drive, mib); },
        .restore = [machine](const DeviceInfo& drive) { return restore_mode(machine, drive); },
    };
}

int run_headless(const std::vector<std::string>& args, std::shared_ptr<Machine> machine) {
    platform::attach_parent_console();
    auto dir = log_directory();
    if (dir) {
        Logger::init(*dir);
        prune_transcripts(*dir);
        auto transcript = *dir / fmt("cli-{}.txt", platform::process_id());
        std::lock_guard<std::mutex> lock(g_out_mutex);
        g_transcript.open(transcript, std::ios::binary | std::ios::trunc);
    }
    emit(fmt("Ortivex Stickwright {} (headless) on {}", version_text(),
             platform::system_description()));
    int code = dispatch(args, platform::env_var("ORTIVEX_TEST_USB_SERIAL"),
                        product_modes(std::move(machine)), emit);
    std::lock_guard<std::mutex> lock(g_out_mutex);
    if (g_transcript.is_open()) g_transcript.close();
    return code;
}

}  // namespace sw
