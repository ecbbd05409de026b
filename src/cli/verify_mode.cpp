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
    const std::atomic<bool> never_stop{false};
    auto validated = validate_image(**image, never_stop, machine->clock());
    if (!validated) {
        emit(fmt("REFUSED: {}", validated.error().error.message()));
        return kExitFailed;
    }
    const ImageInspection* inspection = &validated->inspection;
    const double inspect_seconds = validated->inspect_seconds;
    const double content_seconds = validated->content_seconds;

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
