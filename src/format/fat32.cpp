// FAT32: reserved sectors (boot sector, FSInfo, their backups at 6 and 7),
// two FATs, and the data area, where cluster 2 holds the root directory.
#include <cstring>

#include "format/pages.h"

namespace format::detail {

namespace {

constexpr uint32_t kMinClusters = 65525;  // fewer make it FAT16 to every reader
constexpr uint32_t kReserved = 32;
constexpr uint64_t kMaxVolume = 32ull * 1024 * kMiB;

void label_field(uint8_t* p) {
    std::memset(p, ' ', 11);
    std::memcpy(p, kLabel.data(), kLabel.size());
}

// Where the FATs and the data area lie on a volume of `layout`'s size.
struct Fat32Geometry {
    uint32_t cluster = 0;
    uint32_t spc = 0;  // sectors per cluster
    uint64_t sectors = 0;
    uint64_t reserved = 0;
    uint64_t fat_sectors = 0;
    uint64_t clusters = 0;
};

sw::Result<Fat32Geometry, FormatError> fat32_geometry(const Layout& layout) {
    if (layout.partition_bytes > kMaxVolume) return sw::unexpected(FormatError::TooLarge);
    Fat32Geometry g;
    const uint32_t ss = layout.sector_bytes;
    g.sectors = layout.partition_bytes / ss;
    g.cluster = choose_cluster_bytes(FileSystem::Fat32, layout.partition_bytes, ss);
    g.spc = g.cluster / ss;
    const uint32_t per_fat_sector = ss / 4;

    // The FATs hold an entry for each cluster and the two first ones; start
    // from a size that surely suffices and shrink it while it still does.
    uint64_t fat_sectors = ceil_div((g.sectors - kReserved) / g.spc + 2, per_fat_sector);
    auto clusters_for = [&](uint64_t fat) {
        return g.sectors > kReserved + 2 * fat ? (g.sectors - kReserved - 2 * fat) / g.spc : 0;
    };
    for (;;) {
        uint64_t need = ceil_div(clusters_for(fat_sectors) + 2, per_fat_sector);
        if (need >= fat_sectors) break;
        if (ceil_div(clusters_for(need) + 2, per_fat_sector) > need) break;
        fat_sectors = need;
    }
    // The data area starts on a boundary that suits flash erase blocks: 1 MiB
    // on volumes large enough that this costs nothing noticeable, the cluster
    // (at least 4 KiB) on small ones. The reserved sectors take up the slack.
    uint64_t align =
        layout.partition_bytes >= 512 * kMiB ? kMiB : std::max<uint64_t>(g.cluster, kPage);
    uint64_t align_sectors = align / ss;
    uint64_t reserved = kReserved;
    reserved += (align_sectors - (reserved + 2 * fat_sectors) % align_sectors) % align_sectors;
    if (g.sectors <= reserved + 2 * fat_sectors) return sw::unexpected(FormatError::TooSmall);
    g.reserved = reserved;
    g.fat_sectors = fat_sectors;
    g.clusters = (g.sectors - reserved - 2 * fat_sectors) / g.spc;
    if (g.clusters < kMinClusters) return sw::unexpected(FormatError::TooSmall);
    return g;
}

std::vector<uint8_t> fat32_boot_sector(const Layout& layout, const Fat32Geometry& g) {
    const uint32_t ss = layout.sector_bytes;
    std::vector<uint8_t> boot(ss, 0);
    uint8_t* b = boot.data();
    b[0] = 0xEB;
    b[1] = 0x58;
    b[2] = 0x90;
    std::memcpy(b + 3, "MSDOS5.0", 8);
    put16(b + 11, static_cast<uint16_t>(ss));
    b[13] = static_cast<uint8_t>(g.spc);
    put16(b + 14, static_cast<uint16_t>(g.reserved));
    b[16] = 2;     // FATs
    b[21] = 0xF8;  // fixed media
    put16(b + 24, 63);
    put16(b + 26, 255);
    put32(b + 28, static_cast<uint32_t>(layout.partition_offset / ss));  // hidden sectors
    put32(b + 32, static_cast<uint32_t>(g.sectors));
    put32(b + 36, static_cast<uint32_t>(g.fat_sectors));
    put32(b + 44, 2);  // root directory cluster
    put16(b + 48, 1);  // FSInfo sector
    put16(b + 50, 6);  // backup boot sector
    b[64] = 0x80;
    b[66] = 0x29;
    put32(b + 67, layout.serial);
    label_field(b + 71);
    std::memcpy(b + 82, "FAT32   ", 8);
    // Not a boot disk: halt if a BIOS starts it anyway.
    b[90] = 0xF4;
    b[91] = 0xEB;
    b[92] = 0xFD;
    b[510] = 0x55;
    b[511] = 0xAA;
    return boot;
}

std::vector<uint8_t> fat32_info_sector(uint32_t ss, uint64_t clusters) {
    std::vector<uint8_t> info(ss, 0);
    uint8_t* f = info.data();
    put32(f, 0x41615252);
    put32(f + 484, 0x61417272);
    put32(f + 488, static_cast<uint32_t>(clusters - 1));  // all but the root directory
    put32(f + 492, 3);                                    // the next free cluster
    put32(f + 508, 0xAA550000);
    return info;
}

}  // namespace

sw::Result<void, FormatError> lay_out_fat32(Layout& layout, Pages& pages) {
    auto geometry = fat32_geometry(layout);
    if (!geometry) return sw::unexpected(geometry.error());
    const Fat32Geometry& g = *geometry;
    const uint32_t ss = layout.sector_bytes;
    layout.cluster_bytes = g.cluster;
    layout.cluster_count = g.clusters;

    const uint64_t base = layout.partition_offset;
    const uint64_t fat_at = base + g.reserved * ss;
    const uint64_t data_at = fat_at + 2 * g.fat_sectors * ss;
    pages.zero(base, round_up(data_at + g.cluster, kPage) - base);

    std::vector<uint8_t> boot = fat32_boot_sector(layout, g);
    std::vector<uint8_t> info = fat32_info_sector(ss, g.clusters);
    pages.put(base, boot);
    pages.put(base + ss, info);
    pages.put(base + 6 * ss, boot);
    pages.put(base + 7 * ss, info);

    uint8_t fat[12];
    put32(fat, 0x0FFFFFF8);
    put32(fat + 4, 0x0FFFFFFF);
    put32(fat + 8, 0x0FFFFFFF);  // the root directory, one cluster
    pages.put(fat_at, fat);
    pages.put(fat_at + g.fat_sectors * ss, fat);

    uint8_t entry[32] = {};
    label_field(entry);
    entry[11] = 0x08;  // volume label
    pages.put(data_at, entry);
    return {};
}

}  // namespace format::detail
