#include "gallery_checks.h"

#include <algorithm>
#include <cmath>

#include "ui/app_state.h"

namespace sw::screens {

namespace {

std::string extent_text(float w, float h) {
    return std::to_string(static_cast<int>(std::ceil(w - 0.01f))) + "x" +
           std::to_string(static_cast<int>(std::ceil(h - 0.01f)));
}

std::string region_name(const HitRegion& r) {
    std::string name = std::string(action_name(r.id.kind));
    if (r.id.param != 0) {
        name += '#';
        name += std::to_string(r.id.param);
    }
    return name;
}

}  // namespace

void FitCheckingCanvas::text(std::string_view utf8, const Rect& box, const TextStyle& style,
                             Paint paint, Align horizontal, Align vertical) {
    if (!utf8.empty()) {
        TextExtent e = inner_.measure(utf8, style, std::max(0.0f, box.w));
        if (e.w > box.w + kFitSlack || e.h > box.h + kFitSlack)
            problems_.push_back(frame_ + ": text '" + std::string(utf8) + "' " +
                                extent_text(e.w, e.h) + " in box " + extent_text(box.w, box.h));
    }
    inner_.text(utf8, box, style, paint, horizontal, vertical);
}

void check_regions(const std::vector<HitRegion>& regions, const std::string& frame,
                   std::vector<std::string>& problems) {
    for (size_t i = 0; i < regions.size(); ++i) {
        for (size_t j = i + 1; j < regions.size(); ++j) {
            const Rect& a = regions[i].rect;
            const Rect& b = regions[j].rect;
            float w = std::min(a.right(), b.right()) - std::max(a.x, b.x);
            float h = std::min(a.bottom(), b.bottom()) - std::max(a.y, b.y);
            if (w > 0 && h > 0)
                problems.push_back(frame + ": regions " + region_name(regions[i]) + " and " +
                                   region_name(regions[j]) + " overlap");
        }
    }
}

}  // namespace sw::screens
