#include "format/format.h"

#include <array>

#include "format/pages.h"

namespace format {

using namespace detail;

namespace {

constexpr uint64_t kGiB = 1024 * kMiB;

// A cylinder-head-sector address as old BIOSes read it (255 heads, 63 sectors
// a track); addresses beyond cylinder 1023 are written as the largest one.
std::array<uint8_t, 3> chs(uint64_t lba) {
    uint64_t cylinder = lba / (255 * 63);
    if (cylinder > 1023) return {0xFE, 0xFF, 0xFF};
    auto head = static_cast<uint8_t>(lba / 63 % 255);
    auto sector = static_cast<uint8_t>(lba % 63 + 1);
    return {head, static_cast<uint8_t>(sector | ((cylinder >> 8) << 6)),
            static_cast<uint8_t>(cylinder)};
}

std::vector<uint8_t> mbr(const Layout& layout) {
    std::vector<uint8_t> s(layout.sector_bytes, 0);
    // The disk signature: from the serial, never zero (Windows writes its own
    // over a zero one).
    uint32_t signature = (layout.serial * 2654435761u) ^ 0x53573137u;
    put32(&s[440], signature == 0 ? 1 : signature);
    uint64_t first = layout.partition_offset / layout.sector_bytes;
    uint64_t count = layout.partition_bytes / layout.sector_bytes;
    uint8_t* e = &s[446];
    e[0] = 0x00;  // not active: nothing boots from it
    auto start = chs(first);
    auto end = chs(first + count - 1);
    std::copy(start.begin(), start.end(), e + 1);
    e[4] = layout.fs == FileSystem::Fat32 ? 0x0C : 0x07;
    std::copy(end.begin(), end.end(), e + 5);
    put32(e + 8, static_cast<uint32_t>(first));
    put32(e + 12, static_cast<uint32_t>(count));
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

}  // namespace

uint64_t Layout::bytes_written() const {
    uint64_t total = 0;
    for (const auto& e : extents)
        total += e.length;
    return total;
}

FileSystem choose_file_system(uint64_t drive_bytes) {
    return drive_bytes <= 32 * kGiB ? FileSystem::Fat32 : FileSystem::ExFat;
}

uint32_t choose_cluster_bytes(FileSystem fs, uint64_t volume_bytes, uint32_t sector_bytes) {
    uint32_t cluster = 0;
    if (fs == FileSystem::Fat32) {
        if (volume_bytes <= 64 * kMiB)
            cluster = 512;
        else if (volume_bytes <= 128 * kMiB)
            cluster = 1024;
        else if (volume_bytes <= 256 * kMiB)
            cluster = 2048;
        else if (volume_bytes <= 8 * kGiB)
            cluster = 4096;
        else if (volume_bytes <= 16 * kGiB)
            cluster = 8192;
        else
            cluster = 16384;
    } else {
        if (volume_bytes <= 256 * kMiB)
            cluster = 4096;
        else if (volume_bytes <= 32 * kGiB)
            cluster = 32768;
        else
            cluster = 131072;
    }
    return std::max(cluster, sector_bytes);
}

sw::Result<Layout, FormatError> lay_out(uint64_t drive_bytes, uint32_t sector_bytes,
                                        uint32_t serial) {
    return lay_out(drive_bytes, sector_bytes, serial, choose_file_system(drive_bytes));
}

sw::Result<Layout, FormatError> lay_out(uint64_t drive_bytes, uint32_t sector_bytes,
                                        uint32_t serial, FileSystem fs) {
    if (sector_bytes != 512 && sector_bytes != 4096)
        return sw::unexpected(FormatError::BadSectorSize);
    uint64_t drive_end = drive_bytes - drive_bytes % sector_bytes;
    // The partition begins at 1 MiB and ends on the drive's last whole
    // 4096-byte block, so that its size suits both sector sizes.
    uint64_t partition_end = drive_end - drive_end % kPage;
    if (partition_end < 4 * kMiB) return sw::unexpected(FormatError::TooSmall);

    Layout layout;
    layout.fs = fs;
    layout.sector_bytes = sector_bytes;
    layout.partition_offset = kMiB;
    layout.partition_bytes = partition_end - kMiB;
    layout.label = std::string(kLabel);
    layout.serial = serial;
    if (layout.partition_bytes / sector_bytes > 0xFFFFFFFFu)
        return sw::unexpected(FormatError::TooLarge);

    // Zeros over whatever the drive held at both ends: an MBR or protective
    // MBR, the primary GPT, ISO 9660 volume descriptors and old boot sectors
    // at the start; the backup GPT at the end.
    Pages pages(drive_end);
    pages.zero(0, kMiB);
    uint64_t tail = (drive_end - kMiB) / kPage * kPage;
    pages.zero(tail, drive_end - tail);

    auto laid =
        fs == FileSystem::Fat32 ? lay_out_fat32(layout, pages) : lay_out_exfat(layout, pages);
    if (!laid) return sw::unexpected(laid.error());

    pages.put(0, mbr(layout));
    layout.extents = pages.extents();
    return layout;
}

std::string_view describe(FormatError error) {
    switch (error) {
        case FormatError::BadSectorSize:
            return "the drive's sector size is neither 512 nor 4096 bytes";
        case FormatError::TooSmall:
            // The smallest FAT32 volumes: 65525 clusters of 512 or 4096 bytes.
            return "the drive is too small to format: FAT32 needs at least 34 MB, or 258 MB on "
                   "drives with 4096-byte sectors";
        case FormatError::TooLarge:
            return "the drive is too large for one MBR partition (at most 2 TiB with 512-byte "
                   "sectors, 16 TiB with 4096-byte sectors)";
    }
    return "unknown formatting error";
}

std::string_view name(FileSystem fs) {
    return fs == FileSystem::Fat32 ? "FAT32" : "exFAT";
}

}  // namespace format
