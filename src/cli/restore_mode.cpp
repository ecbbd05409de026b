#include "cli/restore_mode.h"

#include <thread>

#include "cli/headless.h"
#include "cli/modes.h"
#include "cli/progress_reporter.h"
#include "core/interrupt.h"
#include "core/process.h"
#include "core/text.h"
#include "runtime/thread.h"

namespace sw {

std::string restored_line(double total_seconds, const RestoreReport& report) {
    std::string refresh = report.refresh_failure
                              ? fmt("Err({})", debug_quoted(*report.refresh_failure))
                              : std::string("Ok(())");
    return fmt("restored: {}; total={}s write={}s flush={}s verify={}s written={} refresh={}",
               restored_summary(report), fixed(total_seconds, 1), fixed(report.write_seconds, 1),
               fixed(report.flush_seconds, 2), fixed(report.verify_seconds, 1),
               report.bytes_written, refresh);
}

int restore_mode(const std::shared_ptr<Machine>& machine, const DeviceInfo& drive,
                 const WriteModeOutput& out, std::shared_ptr<std::atomic<bool>> stop) {
    RestoreRequest request;
    request.drive = drive;
    request.volume_serial = volume_serial_at(std::chrono::system_clock::now());
    request.stop = std::move(stop);

    auto [result, total] = run_reported(*request.progress, machine->clock(), out.print_line,
                                        [&] { return run_restore_job(request, machine); });

    if (!result) {
        out.emit(fmt("FAILED: {}", result.error().text()));
        return kExitFailed;
    }
    out.emit(restored_line(total, *result));
    return kExitOk;
}

int restore_mode(const MachinePtr& machine, const DeviceInfo& drive) {
    // Ctrl+C, a hang-up or a kill ends the restore as cancelled, with the
    // drive released and the outcome reported.
    auto stop = std::make_shared<std::atomic<bool>>(false);
    platform::StopOnInterrupt interrupts(stop);
    return restore_mode(machine, drive, WriteModeOutput{emit, print_line}, stop);
}

}  // namespace sw
