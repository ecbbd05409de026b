// "--verify-image PATH": the structural inspection and the content check of
// one image file, timed, in one line.
#include <algorithm>
#include <atomic>

#include "cli/headless.h"
#include "cli/modes.h"
#include "core/clock.h"
#include "core/text.h"
#include "image/hashing.h"
#include "image/validation.h"

namespace sw {

int verify_image_mode(const MachinePtr& machine, const std::string& image_path) {
    auto image = machine->open_image(image_path);
    if (!image) {
        emit(fmt("open failed: {}", image.error()));
        return kExitFailed;
    }
    Clock& clock = machine->clock();
    auto started = clock.now();
    auto inspection = inspect_image(**image);
    double inspect_seconds = elapsed_seconds(started, clock.now());
    if (!inspection) {
        emit(fmt("REFUSED: {}", inspection.error().message()));
        return kExitFailed;
    }

    const std::atomic<bool> never_stop{false};
    started = clock.now();
    auto content = verify_image_content(**image, *inspection, never_stop);
    double content_seconds = elapsed_seconds(started, clock.now());
    if (!content) {
        emit(fmt("REFUSED: {}", content.error().message()));
        return kExitFailed;
    }

    double rate =
        static_cast<double>(inspection->image_size) / 1e6 / std::max(content_seconds, 0.001);
    emit(fmt("{} version={} size={} uefi={} bios={} inspect={}s content={}s ({} MB/s)",
             inspection->is_signed() ? "OFFICIAL" : "UNSIGNED", inspection->version_text(),
             inspection->image_size, inspection->boot_flags.efi_partition,
             inspection->boot_flags.mbr_boot_code, fixed(inspect_seconds, 3),
             fixed(content_seconds, 2), fixed(rate, 0)));
    return kExitOk;
}

}  // namespace sw
