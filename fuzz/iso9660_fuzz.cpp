// The ISO 9660 reader and the whole inspection over an image in memory.
//
// The first input byte picks how the rest becomes an image, so that short
// inputs reach every stage:
//   0: the first 32 KiB (boot area) alone, for the MBR/GPT rules;
//   1: 32 KiB of zeros, then the input (descriptors at the input's start);
//   2: the input as it is (it must reach 64 KiB to get past the size check).
// Beyond not crashing, the reader's bounds are checked on every result.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "image/iso9660.h"
#include "image/media_signature.h"
#include "image/validation.h"

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

void check_layout(const sw::ImageLayout& layout) {
    check(layout.files.size() <= sw::kMaxImageFiles);
    check(std::is_sorted(layout.files.begin(), layout.files.end(),
                         [](const auto& a, const auto& b) { return a.offset < b.offset; }));
    // A name may itself hold a "/" (Rock Ridge allows any byte), so depth
    // shows in the length: at most 9 components of at most 222 bytes, each
    // byte at worst replaced by three.
    for (const auto& f : layout.files) {
        check(f.size != 0);
        check(f.path.size() <= (sw::kMaxDirectoryDepth + 1) * (3 * 222 + 1));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t mode = data[0] % 3;
    std::vector<uint8_t> image;
    if (mode == 0) {
        image.assign(data + 1, data + size);
        image.resize(sw::kBootAreaBytes, 0);
        sw::BootFlags flags = sw::read_boot_flags(image);
        // Boot code counts only on an active entry with sectors, which is a partition.
        check(!flags.mbr_boot_code || flags.mbr_partition);
        return 0;
    }
    if (mode == 1) image.assign(sw::kBootAreaBytes, 0);
    image.insert(image.end(), data + 1, data + size);
    if (mode == 1 && image.size() < sw::kMinImageBytes) image.resize(sw::kMinImageBytes, 0);

    sw::MemoryImageReader reader(image);
    auto layout = sw::read_image_layout(reader);
    if (!layout) {
        using K = sw::ValidationError::Kind;
        check(layout.error().kind == K::NotIso || layout.error().kind == K::Io);
        return 0;
    }
    check_layout(*layout);
    const std::string_view path[] = {"ortivex", "MEDIA.SUMS"};
    if (auto found = sw::find_image_file(reader, *layout, path); found && *found) {
        check((*found)->offset + (*found)->size <= image.size());
    }
    auto inspection = sw::inspect_image(reader);
    if (inspection) {
        check(inspection->image_size == image.size());
        check(inspection->boot_flags.mbr_partition && inspection->boot_flags.efi_partition);
        if (inspection->signature) {
            check(inspection->signature->offset + 4096 <= image.size());
            check(inspection->block.size() == 4096);
        }
        sw::ImageLayout files_only;
        files_only.files = inspection->files;
        check_layout(files_only);
    }
    return 0;
}
