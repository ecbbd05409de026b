// The drive formatter: turns a drive's size and logical sector size into the
// bytes that make it an everyday drive again, the way a new stick comes from
// the shop. Zeros over old partition tables and signatures at both ends, an
// MBR with one partition from 1 MiB to the end, and a quick-formatted FAT32
// (drives up to 32 GiB) or exFAT (above) in it, with Windows' cluster sizes.
//
// Platform-free: no I/O. The caller writes each extent of the Layout in list
// order, flushes, and may read them back to compare.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

namespace format {

enum class FileSystem { Fat32, ExFat };

// `length` bytes at `offset` from the drive's start; `bytes` empty means
// `length` zero bytes, otherwise bytes.size() == length. Offsets and lengths
// are multiples of 4096, so unbuffered writes suit 512- and 4096-byte sectors;
// the one exception is the extent that ends at the drive's end when the drive
// is not a whole number of 4096-byte blocks: it ends there, on a sector
// boundary.
struct Extent {
    uint64_t offset = 0;
    uint64_t length = 0;
    std::vector<uint8_t> bytes;
};

struct Layout {
    FileSystem fs = FileSystem::Fat32;
    uint32_t sector_bytes = 512;
    uint32_t cluster_bytes = 0;
    uint64_t cluster_count = 0;     // clusters in the data area
    uint64_t partition_offset = 0;  // bytes from the drive's start
    uint64_t partition_bytes = 0;
    std::string label;
    uint32_t serial = 0;
    // Sorted and disjoint, except that the extent holding the MBR (offset 0)
    // comes last: written last, an interrupted run never leaves a table that
    // claims a file system that is not there yet.
    std::vector<Extent> extents;

    uint64_t bytes_written() const;
    // Bytes of the data area: what users see as the drive's size.
    uint64_t capacity_bytes() const { return cluster_count * cluster_bytes; }
};

enum class FormatError {
    BadSectorSize,  // not 512 or 4096
    TooSmall,       // too few clusters for the file system
    TooLarge,       // beyond what an MBR partition (or FAT32) can address
};

// The label a restored drive gets.
inline constexpr std::string_view kLabel = "USB DRIVE";

// FAT32 for drives up to 32 GiB, exFAT above, as Windows chooses.
FileSystem choose_file_system(uint64_t drive_bytes);

// Windows' cluster size for a volume of `volume_bytes`, never smaller than a
// sector.
uint32_t choose_cluster_bytes(FileSystem fs, uint64_t volume_bytes, uint32_t sector_bytes);

// The drive's size is taken down to whole sectors. Drives whose partition
// would need more sectors than an MBR entry holds (2 TiB with 512-byte
// sectors, 16 TiB with 4096-byte ones) are refused with TooLarge rather than
// given a partition that leaves part of the drive unused.
sw::Result<Layout, FormatError> lay_out(uint64_t drive_bytes, uint32_t sector_bytes,
                                        uint32_t serial);
// The same with the file system chosen by the caller; FAT32 is refused above
// 32 GiB of volume, as Windows refuses it.
sw::Result<Layout, FormatError> lay_out(uint64_t drive_bytes, uint32_t sector_bytes,
                                        uint32_t serial, FileSystem fs);

// English, for logs and the headless mode.
std::string_view describe(FormatError error);
std::string_view name(FileSystem fs);  // "FAT32", "exFAT"

// exFAT's up-case table in its compressed form (runs of characters that map
// to themselves written as 0xFFFF and the run's length), covering U+0000 to
// U+FFFF, and the mapping it encodes.
const std::vector<uint8_t>& exfat_upcase_table();
char16_t upcase(char16_t c);

}  // namespace format
