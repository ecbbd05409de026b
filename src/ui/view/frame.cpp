#include <algorithm>
#include <cmath>

#include "ui/view/parts.h"

namespace sw::view {

std::string Frame::fit(std::string_view s_in, const TextStyle& style, float width, int max_lines) {
    std::string out(s_in);
    const float line = style.size * 1.34f;
    auto fits = [&](const std::string& v) {
        TextExtent e = c.measure(v, style, width);
        return e.w <= width && e.h <= line * static_cast<float>(max_lines) + 0.5f;
    };
    if (fits(out)) return out;
    // Cut whole UTF-8 characters from the end.
    while (!out.empty()) {
        size_t cut = out.size() - 1;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80)
            --cut;
        out.resize(cut);
        std::string candidate = out + "…";
        if (fits(candidate)) return candidate;
    }
    return out;
}

float Frame::text_height(std::string_view s_in, const TextStyle& style, float width, int lines) {
    return std::ceil(c.measure(fit(s_in, style, width, lines), style, width).h);
}

float Frame::paragraph(std::string_view s_in, float x, float y, float width, const TextStyle& style,
                       Paint paint, Align align, int max_lines) {
    std::string v = fit(s_in, style, width, max_lines);
    TextExtent e = c.measure(v, style, width);
    float h = std::ceil(e.h);
    c.text(v, Rect{x, y - scroll, width, h}, style, paint, align, Align::Start);
    return h;
}

void Frame::label(std::string_view s_in, const Rect& box, const TextStyle& style, Paint paint,
                  Align h, Align v) {
    std::string fitted = fit(s_in, style, box.w, 1);
    c.text(fitted, Rect{box.x, box.y - scroll, box.w, box.h}, style, paint, h, v);
}

void Frame::record(ElementId id, const Rect& m) {
    if (!regions_on) return;
    float left = std::max(m.x, visible.x), top = std::max(m.y, visible.y);
    float right = std::min(m.right(), visible.right());
    float bottom = std::min(m.bottom(), visible.bottom());
    Rect seen = right > left && bottom > top ? Rect{left, top, right - left, bottom - top}
                                             : Rect{m.x, m.y, 0, 0};
    s.last_frame.regions.push_back({id, seen, action_enabled(s, id), m});
}

float Column::height() const {
    float h = 0;
    for (const auto& block : blocks_)
        h += block.first;
    return h;
}

float Column::draw(float top) const {
    float y = top;
    for (const auto& [height, draw] : blocks_) {
        if (draw) draw(y);
        y += height;
    }
    return y;
}

}  // namespace sw::view
