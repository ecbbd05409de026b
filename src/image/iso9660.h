// Just enough ISO 9660 to decide whether an image file is a volume that can
// boot from a USB stick, and to find files in it: the Primary Volume
// Descriptor, directory records, Rock Ridge names (SUSP "SP" and "NM") and the
// hybrid boot layout in the first 32 KiB (MBR, GPT, EFI System Partition).
// File contents are never read here.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "image/image_reader.h"
#include "image/verdict.h"

namespace sw {

struct BootFlags {
    bool mbr_partition = false;  // 55 AA and an MBR entry with a non-zero sector count
    bool gpt = false;            // a protective 0xEE entry or "EFI PART" at byte 512
    bool efi_partition = false;  // an EFI System Partition in the MBR or the GPT
    bool mbr_boot_code = false;  // an active MBR entry and non-zero boot code

    bool operator==(const BootFlags&) const = default;
};

struct ImageFile {
    std::string path;  // components joined by "/", no leading slash
    uint64_t offset = 0;
    uint32_t size = 0;

    bool operator==(const ImageFile&) const = default;
};

struct ImageLayout {
    uint64_t volume_bytes = 0;  // Volume Space Size x 2048
    uint64_t root_offset = 0;
    uint32_t root_size = 0;
    uint8_t susp_skip = 0;
    std::string volume_id;
    BootFlags boot_flags;
    std::vector<ImageFile> files;  // at most kMaxImageFiles, sorted by offset (stable)
};

struct DirectoryEntry {
    std::string name;
    uint64_t offset = 0;
    uint32_t size = 0;
    bool is_directory = false;
};

struct FoundFile {
    uint64_t offset = 0;
    uint32_t size = 0;
    bool operator==(const FoundFile&) const = default;
};

inline constexpr uint64_t kIsoBlockSize = 2048;
inline constexpr uint64_t kMinImageBytes = 65536;
inline constexpr uint64_t kBootAreaBytes = 32768;
inline constexpr size_t kMaxImageFiles = 4096;
inline constexpr unsigned kMaxDirectoryDepth = 8;
inline constexpr uint32_t kMaxDirectoryBytes = 4 * 1024 * 1024;
// Bounds of the walk that the file and depth limits alone do not give: a
// crafted image can list the same directory extent under thousands of names
// on every level, which would make the walk's work grow exponentially with
// the depth. No real installer image comes near these.
inline constexpr size_t kMaxWalkDirectories = 16384;
inline constexpr uint64_t kMaxWalkDirectoryBytes = 64ull * 1024 * 1024;

// The whole inspection: descriptors, PVD, Rock Ridge detection, boot layout,
// directory walk. Fails with NotIso or Io only.
Result<ImageLayout, ValidationError> read_image_layout(const ImageReader& image);

// The boot flags of the first 32 KiB of an image.
BootFlags read_boot_flags(std::span<const uint8_t> first_32k);

// One directory's entries, without "." and "..". Errors are I/O texts
// ("directory too large", or the reader's).
Result<std::vector<DirectoryEntry>, std::string> read_directory(const ImageReader& image,
                                                                uint64_t offset, uint32_t size,
                                                                uint8_t susp_skip);

// Looks a path up from the root; components compare ASCII case-insensitively.
// Every component but the last must be a directory, the last a file. Absent
// when not found; an error text when a directory cannot be read or the found
// file's extent lies outside the image ("file extent outside the image").
Result<std::optional<FoundFile>, std::string> find_image_file(
    const ImageReader& image, const ImageLayout& layout,
    std::span<const std::string_view> components);

}  // namespace sw
