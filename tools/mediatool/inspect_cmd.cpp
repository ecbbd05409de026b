// inspect IMAGE: the layout the ISO reader sees, then the inspection's verdict.
#include <cstdio>

#include "commands.h"
#include "core/text.h"
#include "image/iso9660.h"
#include "image/validation.h"

namespace sw::mediatool {

namespace {
void line(const std::string& s) {
    std::fwrite(s.data(), 1, s.size(), stdout);
    std::fputc('\n', stdout);
}
}  // namespace

int inspect_command(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fputs("usage: ortivex-mediatool inspect IMAGE\n", stderr);
        return 2;
    }
    auto image = open_image_file(args[0]);
    if (!image) {
        std::fprintf(stderr, "cannot open %s: %s\n", args[0].c_str(), image.error().c_str());
        return 2;
    }
    auto layout = read_image_layout(**image);
    if (layout) {
        const BootFlags& b = layout->boot_flags;
        line(fmt("volume size: {} bytes", layout->volume_bytes));
        line(fmt("root: offset={} size={}", layout->root_offset, layout->root_size));
        line(fmt("susp skip: {}", static_cast<unsigned>(layout->susp_skip)));
        line(fmt("volume id: '{}'", layout->volume_id));
        line(fmt("boot: mbr_partition={} gpt={} efi_partition={} mbr_boot_code={}", b.mbr_partition,
                 b.gpt, b.efi_partition, b.mbr_boot_code));
        line(fmt("files: {}", layout->files.size()));
        for (const auto& f : layout->files)
            line(fmt("  {} {} {}", f.offset, f.size, visible_text(f.path)));
    }
    auto inspection = inspect_image(**image);
    if (!inspection) {
        line(fmt("verdict: refused: {} ({})", inspection.error().message(),
                 inspection.error().debug()));
        return 1;
    }
    std::string extra;
    if (inspection->is_signed()) {
        extra = fmt(" build={} sha256={} block={}", *inspection->build,
                    inspection->manifest->sha256, inspection->signature->offset);
    } else if (inspection->build) {
        extra = fmt(" build={}", *inspection->build);
    }
    line(fmt("verdict: accepted {}{}", inspection_summary(*inspection), extra));
    return 0;
}

}  // namespace sw::mediatool
