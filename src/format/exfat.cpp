// exFAT: a main and a backup boot region (12 sectors each), the FAT, and the
// cluster heap, whose first clusters hold the allocation bitmap, the up-case
// table and the root directory, in that order.
#include <cstring>

#include "format/pages.h"

namespace format::detail {

namespace {

constexpr uint32_t kBootRegionSectors = 12;

// The checksum of a boot region: every byte of its first 11 sectors except
// the volume flags and the percentage in use, which change while mounted.
uint32_t boot_checksum(const std::vector<uint8_t>& region, uint32_t ss) {
    uint32_t sum = 0;
    for (size_t i = 0; i < size_t{11} * ss; ++i) {
        if (i == 106 || i == 107 || i == 112) continue;
        sum = ((sum & 1) ? 0x80000000u : 0u) + (sum >> 1) + region[i];
    }
    return sum;
}

uint32_t table_checksum(const std::vector<uint8_t>& table) {
    uint32_t sum = 0;
    for (uint8_t byte : table)
        sum = ((sum & 1) ? 0x80000000u : 0u) + (sum >> 1) + byte;
    return sum;
}

int log2(uint64_t v) {
    int n = 0;
    while ((uint64_t{1} << n) < v)
        ++n;
    return n;
}

// Where the FAT, the cluster heap and the three structures at the heap's
// start lie on a volume of `layout`'s size.
struct ExfatGeometry {
    uint32_t cluster = 0;
    uint64_t spc = 0;  // sectors per cluster
    uint64_t sectors = 0;
    uint64_t fat_offset = 0;
    uint64_t fat_sectors = 0;
    uint64_t heap_offset = 0;
    uint64_t clusters = 0;
    uint64_t bitmap_bytes = 0;
    uint64_t bitmap_clusters = 0;
    uint64_t upcase_clusters = 0;
    uint64_t used = 0;  // clusters the three structures take
    uint32_t bitmap_first = 2;
    uint32_t upcase_first = 0;
    uint32_t root_first = 0;
};

sw::Result<ExfatGeometry, FormatError> exfat_geometry(const Layout& layout) {
    ExfatGeometry g;
    const uint32_t ss = layout.sector_bytes;
    g.sectors = layout.partition_bytes / ss;
    g.cluster = choose_cluster_bytes(FileSystem::ExFat, layout.partition_bytes, ss);
    g.spc = g.cluster / ss;

    // The FAT and the cluster heap each start on a 1 MiB boundary, which
    // suits flash erase blocks; the partition starts on one too.
    const uint64_t align = kMiB / ss;
    g.fat_offset = align;
    if (g.sectors <= g.fat_offset) return sw::unexpected(FormatError::TooSmall);
    g.fat_sectors = ceil_div(((g.sectors - g.fat_offset) / g.spc + 2) * 4, ss);
    g.heap_offset = round_up(g.fat_offset + g.fat_sectors, align);
    if (g.sectors <= g.heap_offset) return sw::unexpected(FormatError::TooSmall);
    g.clusters = (g.sectors - g.heap_offset) / g.spc;
    g.fat_sectors = ceil_div((g.clusters + 2) * 4, ss);
    if (g.clusters > 0xFFFFFFF5u) return sw::unexpected(FormatError::TooLarge);

    g.bitmap_bytes = ceil_div(g.clusters, 8);
    g.bitmap_clusters = ceil_div(g.bitmap_bytes, g.cluster);
    g.upcase_clusters = ceil_div(exfat_upcase_table().size(), g.cluster);
    g.used = g.bitmap_clusters + g.upcase_clusters + 1;
    if (g.clusters < g.used + 16) return sw::unexpected(FormatError::TooSmall);
    g.upcase_first = static_cast<uint32_t>(g.bitmap_first + g.bitmap_clusters);
    g.root_first = static_cast<uint32_t>(g.upcase_first + g.upcase_clusters);
    return g;
}

// The boot region: boot sector, eight extended boot sectors, OEM parameters
// and a reserved sector (left empty), then the checksum.
std::vector<uint8_t> exfat_boot_region(const Layout& layout, const ExfatGeometry& g) {
    const uint32_t ss = layout.sector_bytes;
    std::vector<uint8_t> region(size_t{kBootRegionSectors} * ss, 0);
    uint8_t* b = region.data();
    b[0] = 0xEB;
    b[1] = 0x76;
    b[2] = 0x90;
    std::memcpy(b + 3, "EXFAT   ", 8);
    put64(b + 64, layout.partition_offset / ss);
    put64(b + 72, g.sectors);
    put32(b + 80, static_cast<uint32_t>(g.fat_offset));
    put32(b + 84, static_cast<uint32_t>(g.fat_sectors));
    put32(b + 88, static_cast<uint32_t>(g.heap_offset));
    put32(b + 92, static_cast<uint32_t>(g.clusters));
    put32(b + 96, g.root_first);
    put32(b + 100, layout.serial);
    put16(b + 104, 0x0100);  // revision 1.00
    b[108] = static_cast<uint8_t>(log2(ss));
    b[109] = static_cast<uint8_t>(log2(g.spc));
    b[110] = 1;  // one FAT
    b[111] = 0x80;
    b[112] = static_cast<uint8_t>(g.used * 100 / g.clusters);
    std::memset(b + 120, 0xF4, 390);  // not a boot disk: halt
    b[510] = 0x55;
    b[511] = 0xAA;
    for (uint32_t s = 1; s <= 8; ++s)
        put32(b + (s + 1) * ss - 4, 0xAA550000);
    uint32_t sum = boot_checksum(region, ss);
    for (uint32_t i = 0; i < ss; i += 4)
        put32(b + 11 * ss + i, sum);
    return region;
}

// The FAT: the two reserved entries, then a chain for each of the three
// structures.
std::vector<uint8_t> exfat_fat_start(const ExfatGeometry& g) {
    std::vector<uint8_t> fat((2 + g.used) * 4, 0);
    put32(&fat[0], 0xFFFFFFF8);
    put32(&fat[4], 0xFFFFFFFF);
    auto chain = [&](uint32_t first, uint64_t count) {
        for (uint64_t i = 0; i < count; ++i)
            put32(&fat[(first + i) * 4], i + 1 == count ? 0xFFFFFFFF : first + i + 1);
    };
    chain(g.bitmap_first, g.bitmap_clusters);
    chain(g.upcase_first, g.upcase_clusters);
    chain(g.root_first, 1);
    return fat;
}

std::vector<uint8_t> exfat_root_directory(const ExfatGeometry& g) {
    const std::vector<uint8_t>& upcase = exfat_upcase_table();
    std::vector<uint8_t> root(96, 0);
    root[0] = 0x83;  // volume label
    root[1] = static_cast<uint8_t>(kLabel.size());
    for (size_t i = 0; i < kLabel.size(); ++i)
        put16(&root[2 + 2 * i], static_cast<uint8_t>(kLabel[i]));
    root[32] = 0x81;  // allocation bitmap
    put32(&root[32 + 20], g.bitmap_first);
    put64(&root[32 + 24], g.bitmap_bytes);
    root[64] = 0x82;  // up-case table
    put32(&root[64 + 4], table_checksum(upcase));
    put32(&root[64 + 20], g.upcase_first);
    put64(&root[64 + 24], upcase.size());
    return root;
}

}  // namespace

sw::Result<void, FormatError> lay_out_exfat(Layout& layout, Pages& pages) {
    auto geometry = exfat_geometry(layout);
    if (!geometry) return sw::unexpected(geometry.error());
    const ExfatGeometry& g = *geometry;
    const uint32_t ss = layout.sector_bytes;
    layout.cluster_bytes = g.cluster;
    layout.cluster_count = g.clusters;

    const uint64_t base = layout.partition_offset;
    std::vector<uint8_t> region = exfat_boot_region(layout, g);
    pages.zero(base, round_up(2 * kBootRegionSectors * ss, kPage));
    pages.put(base, region);
    pages.put(base + kBootRegionSectors * ss, region);

    // Entries of free clusters are ignored by readers that follow the bitmap,
    // but the whole FAT is zeroed all the same, so that no reader finds an
    // old chain there (a few MiB at most on drives up to 256 GB).
    pages.zero(base + g.fat_offset * ss, round_up(g.fat_sectors * ss, kPage));
    pages.put(base + g.fat_offset * ss, exfat_fat_start(g));

    const uint64_t heap = base + g.heap_offset * ss;
    pages.zero(heap, g.used * g.cluster);
    std::vector<uint8_t> bitmap(ceil_div(g.used, 8), 0);
    for (uint64_t i = 0; i < g.used; ++i)
        bitmap[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    pages.put(heap, bitmap);
    pages.put(heap + (g.upcase_first - 2) * uint64_t{g.cluster}, exfat_upcase_table());
    pages.put(heap + (g.root_first - 2) * uint64_t{g.cluster}, exfat_root_directory(g));
    return {};
}

}  // namespace format::detail
