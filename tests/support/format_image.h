// The formatter's output as the drive would hold it: read back from the
// extents, or written into a file (whole drive, or the partition alone).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "format/format.h"
#include "support/temp_dir.h"

namespace sw::test {

// `length` bytes at `offset` of the formatted drive; bytes no extent covers
// read as `fill`, so that a test sees what was left unwritten.
inline std::vector<uint8_t> read_layout(const format::Layout& layout, uint64_t offset,
                                        size_t length, uint8_t fill = 0xEE) {
    std::vector<uint8_t> out(length, fill);
    for (const auto& e : layout.extents) {
        uint64_t b = std::max(offset, e.offset);
        uint64_t end = std::min(offset + length, e.offset + e.length);
        if (b >= end) continue;
        if (e.bytes.empty())
            std::memset(out.data() + (b - offset), 0, end - b);
        else
            std::memcpy(out.data() + (b - offset), e.bytes.data() + (b - e.offset), end - b);
    }
    return out;
}

inline uint32_t le32(const std::vector<uint8_t>& v, size_t at) {
    return v[at] | v[at + 1] << 8 | v[at + 2] << 16 | static_cast<uint32_t>(v[at + 3]) << 24;
}
inline uint64_t le64(const std::vector<uint8_t>& v, size_t at) {
    return le32(v, at) | static_cast<uint64_t>(le32(v, at + 4)) << 32;
}
inline uint16_t le16(const std::vector<uint8_t>& v, size_t at) {
    return static_cast<uint16_t>(v[at] | v[at + 1] << 8);
}

// Writes the extents from `from` on into `file` (created or kept), shifted
// down by `from`, within a file of `size` bytes: `from` 0 gives the
// whole drive, the partition offset gives the volume alone.
inline bool write_layout(const format::Layout& layout, const std::filesystem::path& file,
                         uint64_t from, uint64_t size) {
    if (!std::filesystem::exists(file)) std::ofstream(file, std::ios::binary).flush();
    std::filesystem::resize_file(file, size);
    std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
    std::vector<char> zeros(1 << 20, 0);
    for (const auto& e : layout.extents) {
        uint64_t end = std::min(e.offset + e.length, from + size);
        if (end <= from || e.offset >= end) continue;
        uint64_t skip = from > e.offset ? from - e.offset : 0;
        out.seekp(static_cast<std::streamoff>(e.offset + skip - from));
        for (uint64_t done = skip; e.offset + done < end;) {
            uint64_t n = std::min<uint64_t>(end - e.offset - done, zeros.size());
            const char* data = e.bytes.empty()
                                   ? zeros.data()
                                   : reinterpret_cast<const char*>(e.bytes.data() + done);
            out.write(data, static_cast<std::streamsize>(n));
            done += n;
        }
    }
    return static_cast<bool>(out.flush());
}

// The smallest drive (in 4096-byte steps) the formatter accepts.
inline uint64_t smallest_accepted(uint32_t sector) {
    uint64_t lo = 1 * MiB, hi = 1 * GiB;  // refused, accepted
    while (hi - lo > 4096) {
        uint64_t mid = (lo + hi) / 2 / 4096 * 4096;
        (format::lay_out(mid, sector, 1) ? hi : lo) = mid;
    }
    return hi;
}

}  // namespace sw::test
