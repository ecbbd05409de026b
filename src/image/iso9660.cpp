#include "image/iso9660.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/text.h"

namespace sw {

namespace {

uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t le64(const uint8_t* p) {
    return static_cast<uint64_t>(le32(p)) | (static_cast<uint64_t>(le32(p + 4)) << 32);
}

// The EFI System Partition type GUID C12A7328-F81F-11D2-BA4B-00A0C93EC93B as
// it is stored on disk (the first three fields little-endian).
constexpr std::array<uint8_t, 16> kEspTypeGuid = {0x28, 0x73, 0x2A, 0xC1, 0x1F, 0xF8, 0xD2, 0x11,
                                                  0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B};

// The text of a directory entry's name, Rock Ridge first.
std::string entry_name(const uint8_t* rec, size_t len, uint8_t susp_skip) {
    size_t name_len = rec[32];
    std::string_view iso_name(reinterpret_cast<const char*>(rec + 33), name_len);

    size_t sua = 33 + name_len + (name_len % 2 == 0 ? 1 : 0) + susp_skip;
    if (sua + 4 <= len) {
        std::string rr;
        size_t pos = sua;
        while (len - pos >= 4) {
            const uint8_t* e = rec + pos;
            size_t elen = e[2];
            if (elen < 4 || elen > len - pos) break;
            if (e[0] == 'N' && e[1] == 'M' && elen > 4) {
                uint8_t flags = e[4];
                if ((flags & (2 | 4)) == 0) {
                    rr.append(reinterpret_cast<const char*>(e + 5), elen - 5);
                    if ((flags & 1) == 0) break;  // the last (or only) piece
                }
            }
            pos += elen;
        }
        if (!rr.empty() && is_valid_utf8(rr)) return rr;
    }

    std::string name = utf8_lossy(iso_name);
    if (size_t semi = name.find(';'); semi != std::string::npos) name.resize(semi);
    while (!name.empty() && name.back() == '.')
        name.pop_back();
    return name;
}

}  // namespace

BootFlags read_boot_flags(std::span<const uint8_t> area) {
    BootFlags flags;
    if (area.size() < 1024) return flags;
    const uint8_t* p = area.data();
    if (p[510] == 0x55 && p[511] == 0xAA) {
        bool boot_code = std::any_of(p, p + 440, [](uint8_t b) { return b != 0; });
        for (int i = 0; i < 4; ++i) {
            const uint8_t* e = p + 446 + 16 * i;
            bool has_sectors = le32(e + 12) != 0;
            uint8_t type = e[4];
            if (type == 0xEE) flags.gpt = true;
            if (!has_sectors) continue;
            flags.mbr_partition = true;
            if (type == 0xEF) flags.efi_partition = true;
            if (e[0] == 0x80 && boot_code) flags.mbr_boot_code = true;
        }
    }
    if (std::memcmp(p + 512, "EFI PART", 8) == 0) flags.gpt = true;

    const uint8_t* header = p + 512;
    uint64_t lba = le64(header + 72);
    uint32_t count = le32(header + 80);
    uint32_t entry_size = le32(header + 84);
    if (count >= 1 && count <= 256 && entry_size >= 128 && entry_size <= 512 &&
        lba <= area.size() / 512) {
        for (uint32_t i = 0; i < count; ++i) {
            uint64_t at = lba * 512 + static_cast<uint64_t>(i) * entry_size;
            if (at + 16 > area.size()) break;
            if (std::memcmp(p + at, kEspTypeGuid.data(), 16) == 0) {
                flags.efi_partition = true;
                break;
            }
        }
    }
    return flags;
}

Result<std::vector<DirectoryEntry>, std::string> read_directory(const ImageReader& image,
                                                                uint64_t offset, uint32_t size,
                                                                uint8_t susp_skip) {
    if (size > kMaxDirectoryBytes) return unexpected(std::string("directory too large"));
    // Checked before the buffer is allocated, so that a record claiming a
    // large extent past the end of a small file costs nothing.
    if (offset > image.size() || size > image.size() - offset) {
        return unexpected(std::string(kShortReadText));
    }
    std::vector<uint8_t> data(size);
    if (auto r = image.read_at(offset, data); !r) return unexpected(r.error().text);

    std::vector<DirectoryEntry> entries;
    size_t pos = 0;
    while (pos < data.size()) {
        size_t len = data[pos];
        if (len == 0) {
            pos = (pos / kIsoBlockSize + 1) * kIsoBlockSize;
            continue;
        }
        if (len > data.size() - pos) break;
        const uint8_t* rec = data.data() + pos;
        pos += len;
        if (len <= 33) continue;
        size_t name_len = rec[32];
        if (len < 33 + name_len) continue;
        if (name_len == 1 && (rec[33] == 0 || rec[33] == 1)) continue;
        DirectoryEntry entry;
        entry.name = entry_name(rec, len, susp_skip);
        entry.offset = static_cast<uint64_t>(le32(rec + 2)) * kIsoBlockSize;
        entry.size = le32(rec + 10);
        entry.is_directory = (rec[25] & 0x02) != 0;
        entries.push_back(std::move(entry));
    }
    return entries;
}

namespace {

// The files of the tree under the root, sorted by their offset in the image.
// Depth-first walk with an explicit stack. Directory paths are kept once each
// and files copy their parent's path, so memory stays proportional to what
// was read.
void collect_files(const ImageReader& image, ImageLayout& layout) {
    struct Pending {
        uint64_t offset;
        uint32_t size;
        unsigned depth;
        std::string path;
    };
    std::vector<Pending> stack;
    stack.push_back({layout.root_offset, layout.root_size, 0, {}});
    size_t directories_queued = 1;
    uint64_t directory_bytes = 0;
    while (!stack.empty() && layout.files.size() < kMaxImageFiles) {
        Pending dir = std::move(stack.back());
        stack.pop_back();
        if (dir.size > kMaxWalkDirectoryBytes - directory_bytes) continue;
        auto entries = read_directory(image, dir.offset, dir.size, layout.susp_skip);
        if (!entries) continue;
        directory_bytes += dir.size;
        for (auto& e : *entries) {
            if (layout.files.size() >= kMaxImageFiles) break;
            std::string path = dir.path.empty() ? std::move(e.name) : dir.path + "/" + e.name;
            if (!e.is_directory) {
                if (e.size != 0) layout.files.push_back({std::move(path), e.offset, e.size});
            } else if (dir.depth < kMaxDirectoryDepth && e.offset != dir.offset &&
                       directories_queued < kMaxWalkDirectories) {
                ++directories_queued;
                stack.push_back({e.offset, e.size, dir.depth + 1, std::move(path)});
            }
        }
    }
    std::stable_sort(layout.files.begin(), layout.files.end(),
                     [](const ImageFile& a, const ImageFile& b) { return a.offset < b.offset; });
}

}  // namespace

Result<ImageLayout, ValidationError> read_image_layout(const ImageReader& image) {
    const auto not_iso = unexpected(ValidationError::of(ValidationError::Kind::NotIso));
    if (image.size() < kMinImageBytes) return not_iso;

    // Volume descriptors in sectors 16..31; the first PVD ends the search.
    std::vector<uint8_t> pvd(kIsoBlockSize);
    bool found = false;
    for (uint64_t at = 32768; at <= 63488; at += kIsoBlockSize) {
        if (!image.read_at(at, pvd)) return not_iso;
        if (std::memcmp(pvd.data() + 1, "CD001", 5) != 0) return not_iso;
        if (pvd[0] == 1) {
            found = true;
            break;
        }
        if (pvd[0] == 255) return not_iso;
    }
    if (!found) return not_iso;
    if (le16(pvd.data() + 128) != kIsoBlockSize) return not_iso;

    ImageLayout layout;
    layout.volume_bytes = static_cast<uint64_t>(le32(pvd.data() + 80)) * kIsoBlockSize;
    const uint8_t* root = pvd.data() + 156;
    layout.root_offset = static_cast<uint64_t>(le32(root + 2)) * kIsoBlockSize;
    layout.root_size = le32(root + 10);
    std::string id =
        utf8_lossy(std::string_view(reinterpret_cast<const char*>(pvd.data() + 40), 32));
    while (!id.empty() && (id.back() == ' ' || id.back() == '\0'))
        id.pop_back();
    layout.volume_id = std::move(id);

    // Rock Ridge: an "SP" entry in the System Use area of the root's "." record.
    std::vector<uint8_t> first(kIsoBlockSize);
    if (auto r = image.read_at(layout.root_offset, first); !r) {
        return unexpected(ValidationError::io(r.error().text));
    }
    size_t rec_len = first[0];
    size_t name_len = first[32];
    size_t sua = 33 + name_len + (name_len % 2 == 0 ? 1 : 0);
    if (sua + 7 <= rec_len && first[sua] == 'S' && first[sua + 1] == 'P' &&
        first[sua + 4] == 0xBE && first[sua + 5] == 0xEF) {
        layout.susp_skip = first[sua + 6];
    }

    std::vector<uint8_t> area(kBootAreaBytes);
    if (auto r = image.read_at(0, area); !r) {
        return unexpected(ValidationError::io(r.error().text));
    }
    layout.boot_flags = read_boot_flags(area);

    collect_files(image, layout);
    return layout;
}

Result<std::optional<FoundFile>, std::string> find_image_file(
    const ImageReader& image, const ImageLayout& layout,
    std::span<const std::string_view> components) {
    if (components.empty()) return std::optional<FoundFile>{};
    uint64_t dir_offset = layout.root_offset;
    uint32_t dir_size = layout.root_size;
    for (size_t i = 0; i < components.size(); ++i) {
        bool last = i + 1 == components.size();
        auto entries = read_directory(image, dir_offset, dir_size, layout.susp_skip);
        if (!entries) return unexpected(entries.error());
        auto it = std::find_if(entries->begin(), entries->end(), [&](const DirectoryEntry& e) {
            return e.is_directory != last && e.name.size() == components[i].size() &&
                   iequals_ascii(e.name, components[i]);
        });
        if (it == entries->end()) return std::optional<FoundFile>{};
        if (last) {
            uint64_t end = it->offset + it->size;  // cannot overflow: offset < 2^43
            if (end > image.size()) {
                return unexpected(std::string("file extent outside the image"));
            }
            return std::optional<FoundFile>{FoundFile{it->offset, it->size}};
        }
        dir_offset = it->offset;
        dir_size = it->size;
    }
    return std::optional<FoundFile>{};
}

}  // namespace sw
