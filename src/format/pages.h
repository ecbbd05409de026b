// What the formatter writes, gathered as 4096-byte pages: ranges to zero and
// the pages that hold data, turned at the end into the Layout's extents.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <utility>
#include <vector>

#include "format/format.h"

namespace format::detail {

inline constexpr uint64_t kPage = 4096;
inline constexpr uint64_t kMiB = 1024 * 1024;

inline void put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void put64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint64_t round_up(uint64_t v, uint64_t unit) {
    return (v + unit - 1) / unit * unit;
}
inline uint64_t ceil_div(uint64_t v, uint64_t d) {
    return (v + d - 1) / d;
}

class Pages {
  public:
    explicit Pages(uint64_t drive_end) : end_(drive_end) {}

    // Zeros over [offset, offset + length): offset on a page boundary, the
    // end on one too or at the drive's end.
    void zero(uint64_t offset, uint64_t length) { zeros_.emplace_back(offset, offset + length); }

    // Bytes at any offset; the pages they touch are written whole, zeros
    // around them.
    void put(uint64_t offset, std::span<const uint8_t> bytes);

    // Sorted, disjoint extents with neighbours of the same kind joined, pages
    // of zeros written as zeros, and the extent at offset 0 moved last.
    std::vector<Extent> extents() const;

  private:
    uint64_t end_;
    std::map<uint64_t, std::vector<uint8_t>> pages_;  // by page number
    std::vector<std::pair<uint64_t, uint64_t>> zeros_;
};

// The file systems' own parts; each fills `pages` for a partition at
// `layout.partition_offset` of `layout.partition_bytes` and sets the layout's
// cluster fields, or refuses.
sw::Result<void, FormatError> lay_out_fat32(Layout& layout, Pages& pages);
sw::Result<void, FormatError> lay_out_exfat(Layout& layout, Pages& pages);

}  // namespace format::detail
