#include "cli/write_mode.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "cli/headless.h"
#include "cli/modes.h"
#include "cli/progress_reporter.h"
#include "core/text.h"
#include "runtime/thread.h"
#include "image/hashing.h"
#include "image/validation.h"
#include "core/interrupt.h"
#include "core/process.h"

namespace sw {

int write_mode(const std::shared_ptr<Machine>& machine, const DeviceInfo& drive,
               const std::string& image_path, bool verify, const WriteModeOutput& out,
               std::shared_ptr<std::atomic<bool>> stop) {
    ImageFacts facts;
    bool is_signed = false;
    {
        auto image = machine->open_image(image_path);
        if (!image) {
            out.emit(fmt("open failed: {}", image.error()));
            return kExitFailed;
        }
        auto validated = validate_image(**image, *stop, machine->clock());
        if (!validated && validated.error().content && stop->load()) {
            out.emit("FAILED: cancelled");
            return kExitFailed;
        }
        if (!validated) {
            out.emit(fmt("image refused: {}", validated.error().error.message()));
            return kExitFailed;
        }
        facts = image_facts_of(validated->inspection);
        is_signed = validated->inspection.is_signed();
    }  // the handle used for validation is closed here
    out.emit(fmt("image {} {} ({} bytes)", is_signed ? "OFFICIAL" : "UNSIGNED", facts.version,
                 facts.size));

    WriteRequest request;
    request.image = facts;
    request.image_path = image_path;
    request.drive = drive;
    request.io = write_io_config();
    request.chunk_size = kWriteChunkSize;
    request.buffer_count = kWriteBufferCount;
    request.verify = verify;
    request.eject_when_done = true;
    request.stop = std::move(stop);

    auto [result, total] = run_reported(*request.progress, machine->clock(), out.print_line,
                                        [&] { return run_write_job(request, machine); });

    if (!result) {
        out.emit(fmt("FAILED: {}", result.error().text()));
        return kExitFailed;
    }
    out.emit(ok_line(OutcomeStyle::Headless, facts.size, *result, total));
    return kExitOk;
}

int write_mode(const MachinePtr& machine, const DeviceInfo& drive, const std::string& image_path,
               bool verify) {
    // Ctrl+C, a hang-up or a kill ends the write as cancelled, with the drive
    // released and the outcome reported, instead of ending the process.
    auto stop = std::make_shared<std::atomic<bool>>(false);
    platform::StopOnInterrupt interrupts(stop);
    return write_mode(machine, drive, image_path, verify, WriteModeOutput{emit, print_line}, stop);
}

}  // namespace sw
