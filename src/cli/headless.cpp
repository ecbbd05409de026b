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

bool on_test_drive(const HeadlessRequest& request) {
    return request.mode >= HeadlessRequest::Write;
}

HeadlessRequest dispatch(const std::vector<std::string>& args,
                         const std::optional<std::string>& serial) {
    using R = HeadlessRequest;
    if (has(args, "--list-drives")) return R{.mode = R::ListDrives};
    if (auto path = value_after(args, "--verify-image"))
        return R{.mode = R::VerifyImage, .image_path = *path};
    if (has(args, "--health")) return R{.mode = R::Health};
    if (!has(args, "--enable-destructive-usb-tests"))
        return R{.mode = R::Refused,
                 .line = "refused: destructive modes need --enable-destructive-usb-tests"};
    std::string test_serial = serial.value_or("");
    if (trim(test_serial).empty())
        return R{.mode = R::Refused,
                 .line =
                     "refused: set ORTIVEX_TEST_USB_SERIAL to the serial number of the "
                     "test drive"};
    if (auto image = value_after(args, "--write")) {
        // "--write --no-verify" names no image: an option word is never the
        // path of the image to erase a drive with.
        if (is_option(*image))
            return R{.mode = R::Refused,
                     .line = fmt("refused: missing image path after --write (found {})", *image)};
        return R{.mode = R::Write,
                 .image_path = *image,
                 .verify = !has(args, "--no-verify"),
                 .serial = test_serial};
    }
    if (has(args, "--restore")) return R{.mode = R::Restore, .serial = test_serial};
    if (has(args, "--benchmark"))
        return R{.mode = R::Benchmark, .mib = bench_mib(args), .serial = test_serial};
    return R{.mode = R::NothingToDo, .serial = test_serial};
}

int run_request(const HeadlessRequest& request, const std::shared_ptr<Machine>& machine) {
    using R = HeadlessRequest;
    switch (request.mode) {
        case R::ListDrives:
            return list_drives_mode(machine);
        case R::VerifyImage:
            return verify_image_mode(machine, request.image_path);
        case R::Health:
            return health_mode(machine);
        case R::Refused:
            emit(request.line);
            return kExitRefused;
        default:
            break;
    }
    auto drive = select_test_drive(machine, request.serial);
    if (!drive) return kExitNoTestDrive;
    switch (request.mode) {
        case R::Write:
            return write_mode(machine, *drive, request.image_path, request.verify);
        case R::Restore:
            return restore_mode(machine, *drive);
        case R::Benchmark:
            return run_benchmark(machine, *drive, request.mib);
        default:
            emit("nothing to do");
            return kExitRefused;
    }
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
    int code = run_request(dispatch(args, platform::env_var("ORTIVEX_TEST_USB_SERIAL")), machine);
    std::lock_guard<std::mutex> lock(g_out_mutex);
    if (g_transcript.is_open()) g_transcript.close();
    return code;
}

}  // namespace sw
