#include <algorithm>
#include <cmath>

#include "i18n/format.h"
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

int Frame::node(A11yNode n, const Rect& r) {
    if (!tree) return -1;
    const Rect m = moved(r);
    float left = std::max(m.x, visible.x), top = std::max(m.y, visible.y);
    float right = std::min(m.right(), visible.right());
    float bottom = std::min(m.bottom(), visible.bottom());
    if (right > left && bottom > top) {
        n.bounds = Rect{left, top, right - left, bottom - top};
    } else {
        // Out of sight: an empty rectangle where it left the visible area.
        n.bounds = Rect{std::clamp(m.x, visible.x, visible.right()),
                        std::clamp(m.y, visible.y, visible.bottom()), 0, 0};
    }
    n.parent = groups.empty() ? -1 : groups.back();
    tree->nodes.push_back(std::move(n));
    return static_cast<int>(tree->nodes.size()) - 1;
}

A11yNode Frame::plain_node(A11yText role, A11yRole kind, std::string_view name,
                           uint32_t index) const {
    A11yNode n;
    n.id = a11y_text_id(role, index);
    n.role = kind;
    n.name = std::string(name);
    return n;
}

int Frame::text_node(A11yText role, std::string_view name, const Rect& r, A11yRole kind,
                     std::string_view help, uint32_t index) {
    if (name.empty()) return -1;
    A11yNode n = plain_node(role, kind, name, index);
    n.help = std::string(help);
    return node(std::move(n), r);
}

void Frame::progress_node(A11yText role, std::string_view name, const Rect& r,
                          std::optional<double> percent) {
    A11yNode n = plain_node(role, A11yRole::ProgressBar, name);
    n.value = percent;
    node(std::move(n), r);
}

A11yNode Frame::element_node(ElementId id, A11yRole kind, std::string_view name) const {
    A11yNode n;
    n.id = a11y_id(id);
    n.role = kind;
    n.name = std::string(name);
    n.action = id;
    n.enabled = action_enabled(s, id);
    n.focusable = n.enabled;
    n.focused = s.input.focus == id && s.input.focus.param == id.param;
    if (id.kind == UiAction::ToggleVerify) n.toggled = s.appearance.prefs.verify;
    if (id.kind == UiAction::ToggleDetails) n.expanded = s.write.details_expanded;
    return n;
}

std::string Frame::label_value(std::string_view label_text, std::string_view value) const {
    return format_text(tx(TextId::LabelValue), {label_text, value});
}

std::string Frame::joined(const std::vector<std::string>& parts) const {
    std::string out;
    for (const auto& part : parts) {
        if (part.empty()) continue;
        out = out.empty() ? part : format_text(tx(TextId::ListJoin), {out, part});
    }
    return out;
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
