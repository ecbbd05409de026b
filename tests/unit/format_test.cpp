// The formatter's output read back byte by byte: the partition table, both
// file systems' structures, their checksums recomputed here, and what it
// refuses.
#include <gtest/gtest.h>

#include <bit>

#include "format/format.h"
#include "support/format_image.h"

namespace {

using format::FileSystem;
using format::FormatError;
using format::Layout;
using sw::test::le16;
using sw::test::le32;
using sw::test::le64;
using sw::test::read_layout;

using sw::test::GiB;
using sw::test::MiB;
using sw::test::smallest_accepted;
using sw::test::TiB;

Layout must_lay_out(uint64_t drive, uint32_t sector, uint32_t serial = 0x1234ABCD) {
    auto layout = format::lay_out(drive, sector, serial);
    EXPECT_TRUE(layout.has_value()) << drive << " bytes, " << sector << "-byte sectors";
    return layout.value_or(Layout{});
}

// The checksum exFAT keeps of its boot region and of its up-case table.
uint32_t rotate_sum(const std::vector<uint8_t>& bytes, size_t count, bool skip_flags) {
    uint32_t sum = 0;
    for (size_t i = 0; i < count; ++i) {
        if (skip_flags && (i == 106 || i == 107 || i == 112)) continue;
        sum = std::rotr(sum, 1) + bytes[i];
    }
    return sum;
}

TEST(FormatChoice, FileSystemAndClusterSizeFollowWindowsTable) {
    EXPECT_EQ(format::choose_file_system(32 * GiB), FileSystem::Fat32);
    EXPECT_EQ(format::choose_file_system(32 * GiB + 512), FileSystem::ExFat);

    struct Row {
        FileSystem fs;
        uint64_t volume;
        uint32_t cluster;
    };
    const Row rows[] = {
        {FileSystem::Fat32, 64 * MiB, 512},        {FileSystem::Fat32, 64 * MiB + 1, 1024},
        {FileSystem::Fat32, 128 * MiB, 1024},      {FileSystem::Fat32, 128 * MiB + 1, 2048},
        {FileSystem::Fat32, 256 * MiB, 2048},      {FileSystem::Fat32, 256 * MiB + 1, 4096},
        {FileSystem::Fat32, 8 * GiB, 4096},        {FileSystem::Fat32, 8 * GiB + 1, 8192},
        {FileSystem::Fat32, 16 * GiB, 8192},       {FileSystem::Fat32, 16 * GiB + 1, 16384},
        {FileSystem::Fat32, 32 * GiB, 16384},      {FileSystem::ExFat, 256 * MiB, 4096},
        {FileSystem::ExFat, 256 * MiB + 1, 32768}, {FileSystem::ExFat, 32 * GiB, 32768},
        {FileSystem::ExFat, 32 * GiB + 1, 131072}, {FileSystem::ExFat, 2 * TiB, 131072},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(format::choose_cluster_bytes(r.fs, r.volume, 512), r.cluster)
            << format::name(r.fs) << " " << r.volume;
        EXPECT_EQ(format::choose_cluster_bytes(r.fs, r.volume, 4096), std::max(r.cluster, 4096u));
    }

    // Through lay_out: the volume is the drive less the first MiB.
    EXPECT_EQ(must_lay_out(8 * GiB + 1 * MiB, 512).cluster_bytes, 4096u);
    EXPECT_EQ(must_lay_out(8 * GiB + 2 * MiB, 512).cluster_bytes, 8192u);
    EXPECT_EQ(must_lay_out(300 * MiB, 4096).fs, FileSystem::Fat32);
    Layout big = must_lay_out(64'000'000'000, 4096);
    EXPECT_EQ(big.fs, FileSystem::ExFat);
    EXPECT_EQ(big.cluster_bytes, 131072u);
}

TEST(FormatRefusals, SectorSizeTooSmallAndTooLarge) {
    for (uint32_t bad : {0u, 256u, 1024u, 2048u, 8192u}) {
        auto r = format::lay_out(8 * GiB, bad, 1);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error(), FormatError::BadSectorSize);
    }

    // The smallest FAT32 drive: the fewest clusters FAT32 may have, of 512
    // bytes, or of 4096 on 4096-byte sectors.
    for (uint32_t sector : {512u, 4096u}) {
        uint64_t smallest = smallest_accepted(sector);
        Layout layout = must_lay_out(smallest, sector);
        EXPECT_EQ(layout.fs, FileSystem::Fat32);
        EXPECT_GE(layout.cluster_count, 65525u);
        EXPECT_LT(layout.cluster_count, 65525u + 64);
        auto refused = format::lay_out(smallest - 4096, sector, 1);
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error(), FormatError::TooSmall);
        EXPECT_NE(format::describe(refused.error()).find("too small"), std::string_view::npos);
        if (sector == 512) {
            EXPECT_GT(smallest, 33 * MiB);
            EXPECT_LT(smallest, 36 * MiB);
        } else {
            EXPECT_GT(smallest, 257 * MiB);
            EXPECT_LT(smallest, 261 * MiB);
        }
    }
    auto tiny = format::lay_out(3 * MiB, 512, 1);
    ASSERT_FALSE(tiny);
    EXPECT_EQ(tiny.error(), FormatError::TooSmall);

    // An MBR entry counts at most 2^32 - 1 sectors.
    EXPECT_TRUE(format::lay_out(2 * TiB, 512, 1));
    auto over = format::lay_out(2 * TiB + 1 * MiB + 4096, 512, 1);
    ASSERT_FALSE(over);
    EXPECT_EQ(over.error(), FormatError::TooLarge);
    EXPECT_NE(format::describe(over.error()).find("too large"), std::string_view::npos);
    EXPECT_TRUE(format::lay_out(4 * TiB, 4096, 1));
    // FAT32 is not stretched past 32 GiB on request.
    auto fat_big = format::lay_out(64 * GiB, 512, 1, FileSystem::Fat32);
    ASSERT_FALSE(fat_big);
    EXPECT_EQ(fat_big.error(), FormatError::TooLarge);
}

TEST(FormatExtents, SortedAlignedMbrLastBothEndsZeroedAndFewBytes) {
    struct Case {
        uint64_t drive;
        uint32_t sector;
        uint64_t most_written;
    };
    const Case cases[] = {
        {40 * MiB, 512, 4 * MiB},
        {1 * GiB, 4096, 6 * MiB},
        {32 * GiB, 512, 20 * MiB},  // two FATs of 8 MiB, zeroed
        {64'000'000'000, 512, 6 * MiB},
        {64'000'000'000 + 3 * 512, 512, 6 * MiB},  // not whole 4096-byte blocks
        {2 * TiB, 4096, 72 * MiB},                 // a FAT of 64 MiB, zeroed
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.drive) + " bytes, " + std::to_string(c.sector));
        Layout layout = must_lay_out(c.drive, c.sector);
        const auto& ex = layout.extents;
        ASSERT_GE(ex.size(), 3u);
        EXPECT_EQ(ex.back().offset, 0u) << "the MBR is written last";
        EXPECT_EQ(ex.back().length, 4096u);
        uint64_t end = c.drive / c.sector * c.sector;
        uint64_t covered_from_start = 0;
        for (size_t i = 0; i + 1 < ex.size(); ++i) {
            EXPECT_EQ(ex[i].offset % 4096, 0u);
            EXPECT_TRUE(ex[i].length % 4096 == 0 || ex[i].offset + ex[i].length == end);
            EXPECT_TRUE(ex[i].bytes.empty() || ex[i].bytes.size() == ex[i].length);
            if (i > 0) {
                EXPECT_GE(ex[i].offset, ex[i - 1].offset + ex[i - 1].length);
            }
            if (ex[i].offset == covered_from_start + 4096 || (i == 0 && ex[i].offset == 4096))
                covered_from_start = ex[i].offset + ex[i].length - 4096;
        }
        EXPECT_GE(covered_from_start + 4096, 1 * MiB) << "first MiB zeroed";
        EXPECT_EQ(ex[ex.size() - 2].offset + ex[ex.size() - 2].length, end);
        EXPECT_LE(ex[ex.size() - 2].offset, end - 1 * MiB) << "last MiB zeroed";
        EXPECT_GT(layout.bytes_written(), 2 * MiB);
        EXPECT_LE(layout.bytes_written(), c.most_written);
        EXPECT_EQ(layout.partition_offset + layout.partition_bytes, end / 4096 * 4096);
        EXPECT_EQ(layout.label, "USB DRIVE");
    }
}

TEST(FormatMbr, OnePartitionFromOneMiBToTheEnd) {
    for (auto [drive, sector] :
         {std::pair{16 * GiB, 512u}, std::pair{16 * GiB, 4096u}, std::pair{128 * GiB, 512u}}) {
        Layout a = must_lay_out(drive, sector, 1);
        Layout b = must_lay_out(drive, sector, 2);
        auto s = read_layout(a, 0, sector);
        EXPECT_EQ(s[510], 0x55);
        EXPECT_EQ(s[511], 0xAA);
        EXPECT_EQ(s[446], 0x00) << "not active";
        EXPECT_EQ(s[446 + 4], drive <= 32 * GiB ? 0x0C : 0x07);
        EXPECT_EQ(le32(s, 446 + 8), 1 * MiB / sector);
        EXPECT_EQ(uint64_t{le32(s, 446 + 12)} * sector, a.partition_bytes);
        EXPECT_GE(a.partition_bytes, drive - 1 * MiB - 4096);
        for (size_t i = 446 + 16; i < 510; ++i)
            EXPECT_EQ(s[i], 0) << "one partition only";
        EXPECT_NE(le32(s, 440), 0u);
        EXPECT_NE(le32(s, 440), le32(read_layout(b, 0, 512), 440)) << "signature from the serial";
        // Everything else of the first MiB is zero: no old table survives.
        auto head = read_layout(a, 0, 1 * MiB);
        std::fill(head.begin() + 440, head.begin() + 512, 0);
        EXPECT_TRUE(std::all_of(head.begin(), head.end(), [](uint8_t v) { return v == 0; }));
        auto tail = read_layout(a, drive - 1 * MiB, 1 * MiB);
        EXPECT_TRUE(std::all_of(tail.begin(), tail.end(), [](uint8_t v) { return v == 0; }));
    }
}

TEST(FormatFat32, BootSectorFsInfoFatsAndRootAgree) {
    for (auto [drive, sector] : {std::pair{40 * MiB, 512u}, std::pair{300 * MiB, 512u},
                                 std::pair{4 * GiB, 4096u}, std::pair{32 * GiB, 512u}}) {
        SCOPED_TRACE(std::to_string(drive) + " " + std::to_string(sector));
        Layout layout = must_lay_out(drive, sector, 0xCAFEF00D);
        ASSERT_EQ(layout.fs, FileSystem::Fat32);
        const uint64_t base = layout.partition_offset;
        auto boot = read_layout(layout, base, sector);
        EXPECT_EQ(le16(boot, 11), sector);
        EXPECT_EQ(boot[13] * sector, layout.cluster_bytes);
        const uint32_t reserved = le16(boot, 14);
        const uint32_t fat = le32(boot, 36);
        EXPECT_GE(reserved, 32u);
        EXPECT_EQ(boot[16], 2);
        EXPECT_EQ(le32(boot, 28), base / sector);
        EXPECT_EQ(uint64_t{le32(boot, 32)} * sector, layout.partition_bytes);
        EXPECT_EQ(le32(boot, 44), 2u);
        EXPECT_EQ(le32(boot, 67), 0xCAFEF00Du);
        EXPECT_EQ(std::string(boot.begin() + 71, boot.begin() + 82), "USB DRIVE  ");
        EXPECT_EQ(std::string(boot.begin() + 82, boot.begin() + 90), "FAT32   ");
        EXPECT_EQ(boot[510], 0x55);
        EXPECT_EQ(boot[511], 0xAA);
        EXPECT_EQ(read_layout(layout, base + 6 * sector, sector), boot);

        const uint64_t data_at = base + (reserved + 2ull * fat) * sector;
        EXPECT_EQ(data_at % layout.cluster_bytes, 0u);
        if (layout.partition_bytes >= 512 * MiB) {
            EXPECT_EQ(data_at % MiB, 0u);
        }
        const uint64_t clusters =
            (layout.partition_bytes - (data_at - base)) / layout.cluster_bytes;
        EXPECT_EQ(clusters, layout.cluster_count);
        EXPECT_GE(uint64_t{fat} * sector / 4, clusters + 2) << "the FAT holds every cluster";

        auto info = read_layout(layout, base + sector, sector);
        EXPECT_EQ(le32(info, 0), 0x41615252u);
        EXPECT_EQ(le32(info, 484), 0x61417272u);
        EXPECT_EQ(le32(info, 488), clusters - 1);
        EXPECT_EQ(le32(info, 492), 3u);
        EXPECT_EQ(le32(info, 508), 0xAA550000u);
        EXPECT_EQ(read_layout(layout, base + 7 * sector, sector), info);

        for (int copy = 0; copy < 2; ++copy) {
            auto table = read_layout(layout, base + (reserved + uint64_t{fat} * copy) * sector,
                                     uint64_t{fat} * sector);
            EXPECT_EQ(le32(table, 0), 0x0FFFFFF8u);
            EXPECT_EQ(le32(table, 4), 0x0FFFFFFFu);
            EXPECT_EQ(le32(table, 8), 0x0FFFFFFFu);
            EXPECT_TRUE(std::all_of(table.begin() + 12, table.end(), [](uint8_t v) {
                return v == 0;
            })) << "every other cluster free";
        }
        auto root = read_layout(layout, data_at, layout.cluster_bytes);
        EXPECT_EQ(std::string(root.begin(), root.begin() + 11), "USB DRIVE  ");
        EXPECT_EQ(root[11], 0x08);
        EXPECT_TRUE(std::all_of(root.begin() + 32, root.end(), [](uint8_t v) { return v == 0; }));
    }
}

TEST(FormatExFat, BootRegionsChecksumsBitmapAndRootDirectory) {
    for (auto [drive, sector] :
         {std::pair{33 * GiB, 512u}, std::pair{64 * GiB, 4096u}, std::pair{2 * TiB, 512u}}) {
        SCOPED_TRACE(std::to_string(drive) + " " + std::to_string(sector));
        Layout layout = must_lay_out(drive, sector, 0x600DD15C);
        ASSERT_EQ(layout.fs, FileSystem::ExFat);
        const uint64_t base = layout.partition_offset;
        auto region = read_layout(layout, base, 12 * sector);
        EXPECT_EQ(std::string(region.begin() + 3, region.begin() + 11), "EXFAT   ");
        EXPECT_TRUE(std::all_of(region.begin() + 11, region.begin() + 64,
                                [](uint8_t v) { return v == 0; }));
        EXPECT_EQ(le64(region, 64), base / sector);
        EXPECT_EQ(le64(region, 72) * sector, layout.partition_bytes);
        const uint64_t fat_at = base + uint64_t{le32(region, 80)} * sector;
        const uint64_t heap_at = base + uint64_t{le32(region, 88)} * sector;
        const uint32_t clusters = le32(region, 92);
        EXPECT_EQ(fat_at % MiB, 0u);
        EXPECT_EQ(heap_at % MiB, 0u);
        EXPECT_EQ(clusters, layout.cluster_count);
        EXPECT_GE(uint64_t{le32(region, 84)} * sector, (clusters + 2ull) * 4);
        EXPECT_LE(fat_at + uint64_t{le32(region, 84)} * sector, heap_at);
        EXPECT_LE(heap_at + uint64_t{clusters} * layout.cluster_bytes,
                  base + layout.partition_bytes);
        EXPECT_EQ(le32(region, 100), 0x600DD15Cu);
        EXPECT_EQ(le16(region, 104), 0x0100);
        EXPECT_EQ(1u << region[108], sector);
        EXPECT_EQ((1u << region[109]) * sector, layout.cluster_bytes);
        EXPECT_EQ(region[110], 1);
        for (uint32_t s = 1; s <= 8; ++s)
            EXPECT_EQ(le32(region, (s + 1) * sector - 4), 0xAA550000u);
        const uint32_t sum = rotate_sum(region, 11 * sector, true);
        for (uint32_t i = 0; i < sector; i += 4)
            ASSERT_EQ(le32(region, 11 * sector + i), sum);
        EXPECT_EQ(read_layout(layout, base + 12 * sector, 12 * sector), region) << "backup";

        // The root directory: label, bitmap, up-case table.
        const uint32_t cluster = layout.cluster_bytes;
        auto at_cluster = [&](uint32_t n) { return heap_at + uint64_t{n - 2} * cluster; };
        auto root = read_layout(layout, at_cluster(le32(region, 96)), cluster);
        EXPECT_EQ(root[0], 0x83);
        ASSERT_EQ(root[1], 9);
        std::string label;
        for (int i = 0; i < 9; ++i)
            label += static_cast<char>(le16(root, 2 + 2 * i));
        EXPECT_EQ(label, "USB DRIVE");
        EXPECT_EQ(root[32], 0x81);
        EXPECT_EQ(le64(root, 32 + 24), (clusters + 7) / 8);
        EXPECT_EQ(root[64], 0x82);
        const uint64_t upcase_bytes = le64(root, 64 + 24);
        auto upcase = read_layout(layout, at_cluster(le32(root, 64 + 20)), upcase_bytes);
        EXPECT_EQ(upcase, format::exfat_upcase_table());
        EXPECT_EQ(le32(root, 64 + 4), rotate_sum(upcase, upcase.size(), false));
        EXPECT_EQ(root[96], 0) << "end of the directory";

        // The FAT chains and the bitmap mark the same clusters: those three.
        auto fat = read_layout(layout, fat_at, 4 * (clusters + 2ull));
        auto chain_length = [&](uint32_t first) {
            uint32_t n = 1;
            for (uint32_t c = first; le32(fat, 4 * c) != 0xFFFFFFFFu; c = le32(fat, 4 * c))
                ++n;
            return n;
        };
        EXPECT_EQ(le32(fat, 0), 0xFFFFFFF8u);
        uint32_t used = chain_length(le32(root, 32 + 20)) + chain_length(le32(root, 64 + 20)) +
                        chain_length(le32(region, 96));
        EXPECT_EQ(chain_length(le32(root, 32 + 20)), (le64(root, 32 + 24) + cluster - 1) / cluster);
        auto bitmap = read_layout(layout, at_cluster(le32(root, 32 + 20)), (clusters + 7) / 8);
        uint32_t marked = 0;
        for (uint8_t byte : bitmap)
            marked += static_cast<uint32_t>(std::popcount(byte));
        EXPECT_EQ(marked, used);
        EXPECT_TRUE(std::all_of(fat.begin() + 4 * (used + 2), fat.end(), [](uint8_t v) {
            return v == 0;
        })) << "no old chains left in the FAT";
        for (uint32_t i = 0; i < used; ++i)
            EXPECT_TRUE(bitmap[i / 8] & (1u << (i % 8)));
    }
}

TEST(FormatUpcase, TableDecompressesToAnUpcaseMappingOfEveryCharacter) {
    const auto& table = format::exfat_upcase_table();
    std::vector<uint16_t> map;
    for (size_t i = 0; i + 1 < table.size(); i += 2) {
        uint16_t v = le16(table, i);
        if (v == 0xFFFF && i + 3 < table.size()) {
            uint16_t run = le16(table, i + 2);
            for (uint16_t k = 0; k < run; ++k)
                map.push_back(static_cast<uint16_t>(map.size()));
            i += 2;
        } else {
            map.push_back(v);
        }
    }
    ASSERT_EQ(map.size(), 0x10000u);
    EXPECT_LT(table.size(), 8000u) << "compressed";
    for (uint32_t c = 0; c <= 0xFFFF; ++c) {
        ASSERT_EQ(map[c], format::upcase(static_cast<char16_t>(c))) << c;
        ASSERT_EQ(format::upcase(map[c]), map[c]) << "capitals stay capitals: " << c;
    }
    const std::pair<char16_t, char16_t> pairs[] = {
        {u'a', u'A'}, {u'z', u'Z'},   {u'A', u'A'},   {u'0', u'0'}, {u'_', u'_'}, {u'é', u'É'},
        {u'ß', u'ß'}, {u'ÿ', u'Ÿ'},   {u'÷', u'÷'},   {u'ž', u'Ž'}, {u'ł', u'Ł'}, {u'α', u'Α'},
        {u'ς', u'Σ'}, {u'ώ', u'Ώ'},   {u'я', u'Я'},   {u'ё', u'Ё'}, {u'ґ', u'Ґ'}, {u'ա', u'Ա'},
        {u'ệ', u'Ệ'}, {u'ｚ', u'Ｚ'}, {u'中', u'中'}, {u'ⅰ', u'Ⅰ'}};
    for (auto [small, capital] : pairs)
        EXPECT_EQ(format::upcase(small), capital) << static_cast<int>(small);
}

}  // namespace
