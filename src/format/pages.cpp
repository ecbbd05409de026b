#include "format/pages.h"

#include <algorithm>
#include <cstring>

namespace format::detail {

void Pages::put(uint64_t offset, std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        uint64_t at = offset + done;
        auto& page = pages_[at / kPage];
        if (page.empty()) page.assign(kPage, 0);
        size_t in_page = static_cast<size_t>(at % kPage);
        size_t n = std::min<size_t>(kPage - in_page, bytes.size() - done);
        std::memcpy(page.data() + in_page, bytes.data() + done, n);
        done += n;
    }
}

namespace {

bool all_zero(const std::vector<uint8_t>& page) {
    return std::all_of(page.begin(), page.end(), [](uint8_t b) { return b == 0; });
}

// Appends a piece, joining it to the last one when they touch and are of the
// same kind.
void append(std::vector<Extent>& out, uint64_t begin, uint64_t end, const uint8_t* data) {
    if (end <= begin) return;
    if (!out.empty() && out.back().offset + out.back().length == begin &&
        out.back().bytes.empty() == (data == nullptr)) {
        out.back().length += end - begin;
        if (data != nullptr)
            out.back().bytes.insert(out.back().bytes.end(), data, data + (end - begin));
        return;
    }
    Extent e{begin, end - begin, {}};
    if (data != nullptr) e.bytes.assign(data, data + (end - begin));
    out.push_back(std::move(e));
}

}  // namespace

std::vector<Extent> Pages::extents() const {
    // Everything covered: the zero ranges, merged, and the data pages.
    std::vector<std::pair<uint64_t, uint64_t>> ranges = zeros_;
    for (const auto& [number, page] : pages_)
        ranges.emplace_back(number * kPage, std::min(end_, (number + 1) * kPage));
    std::sort(ranges.begin(), ranges.end());
    std::vector<std::pair<uint64_t, uint64_t>> merged;
    for (auto [b, e] : ranges) {
        e = std::min(e, end_);
        if (!merged.empty() && b <= merged.back().second)
            merged.back().second = std::max(merged.back().second, e);
        else if (b < e)
            merged.emplace_back(b, e);
    }

    std::vector<Extent> out;
    for (auto [b, e] : merged) {
        uint64_t at = b;
        for (auto it = pages_.lower_bound(b / kPage); it != pages_.end() && it->first * kPage < e;
             ++it) {
            uint64_t page_begin = it->first * kPage;
            append(out, at, page_begin, nullptr);
            bool zero = all_zero(it->second);
            append(out, page_begin, page_begin + kPage, zero ? nullptr : it->second.data());
            at = page_begin + kPage;
        }
        append(out, at, e, nullptr);
    }
    if (!out.empty() && out.front().offset == 0)
        std::rotate(out.begin(), out.begin() + 1, out.end());
    return out;
}

}  // namespace format::detail
