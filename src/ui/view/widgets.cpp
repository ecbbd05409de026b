#include <algorithm>
#include <cmath>

#include "ui/view/parts.h"

namespace sw::view {

void Frame::card(const Rect& r) {
    Rect m = moved(r);
    c.fill_rounded(Rect{m.x, m.y + 1, m.w, m.h}, kCardRadius, {Slot::Shadow, 1});
    c.fill_rounded(m, kCardRadius, {Slot::Surface, 1});
    c.stroke_rounded(m, kCardRadius, {Slot::Line, 1}, 1);
}

void Frame::focus_ring(const Rect& r, float radius) {
    Rect m = moved(r);
    c.stroke_rounded(Rect{m.x - 3, m.y - 3, m.w + 6, m.h + 6}, radius + 3, {Slot::Focus, 1}, 2);
}

void Frame::button(ElementId id, std::string_view text_in, const Rect& r, ButtonKind kind,
                   const TextStyle& style) {
    bool enabled = action_enabled(s, id);
    node(element_node(id, A11yRole::Button, text_in), r);
    float dim = enabled ? 1.0f : s.appearance.palette.opacity;
    float hv = enabled ? hover(id) : 0;
    bool pressed = enabled && s.input.pressed == id && s.input.pressed.param == id.param;
    Rect m = moved(r);
    std::string fitted = fit(text_in, style, std::max(0.0f, r.w - 16));
    if (!enabled && s.appearance.palette.high_contrast) {
        // High contrast dims nothing: a disabled button is drawn as the
        // system draws one, an outline and label in the grey text colour.
        c.stroke_rounded(m, kButtonRadius, {Slot::Text3, 1}, 1);
        c.text(fitted, Rect{m.x + 8, m.y, m.w - 16, m.h}, style, {Slot::Text3, 1}, Align::Center,
               Align::Center);
        region(id, r);
        return;
    }
    Slot text_slot = Slot::Text;
    switch (kind) {
        case ButtonKind::Primary:
            c.fill_rounded(m, kButtonRadius, {pressed ? Slot::Accent3 : Slot::Accent, dim});
            if (hv > 0) c.fill_rounded(m, kButtonRadius, {Slot::Accent2, hv * dim});
            text_slot = Slot::OnAccent;
            break;
        case ButtonKind::Danger:
            c.fill_rounded(m, kButtonRadius, {pressed ? Slot::Red : Slot::Red, dim});
            if (hv > 0) c.fill_rounded(m, kButtonRadius, {Slot::Red2, hv * dim});
            text_slot = Slot::OnAccent;
            break;
        case ButtonKind::Secondary:
            c.fill_rounded(m, kButtonRadius, {pressed ? Slot::Surface3 : Slot::Surface, dim});
            if (hv > 0) c.fill_rounded(m, kButtonRadius, {Slot::Surface2, hv * dim});
            c.stroke_rounded(m, kButtonRadius, {Slot::StrongLine, dim}, 1);
            break;
        case ButtonKind::Link:
            if (hv > 0) c.fill_rounded(m, kButtonRadius, {Slot::AccentTint, hv * dim});
            text_slot = Slot::Link;
            break;
    }
    c.text(fitted, Rect{m.x + 8, m.y, m.w - 16, m.h}, style, {text_slot, dim}, Align::Center,
           Align::Center);
    if (focused(id)) focus_ring(r, kButtonRadius);
    region(id, r);
}

float Frame::button_width(std::string_view label_text) {
    float w = std::min(c.measure(label_text, kButtonLabel, 10000).w, 300.0f);
    return std::ceil(w) + 56;
}

void Frame::status_circle(float cx, float cy, float r, Slot fill, Slot tint,
                          std::string_view glyph) {
    c.fill_ellipse(cx, cy - scroll, r + 10, r + 10, {tint, 1});
    c.fill_ellipse(cx, cy - scroll, r, r, {fill, 1});
    c.text(glyph, Rect{cx - r, cy - r - scroll, 2 * r, 2 * r}, TextStyle{r, 4, FontFamily::Text},
           {Slot::OnAccent, 1}, Align::Center, Align::Center);
}

void Frame::bar(const Rect& r, float fraction, Slot slot) {
    Rect m = moved(r);
    c.fill_rounded(m, m.h / 2, {Slot::Surface3, 1});
    fraction = std::clamp(fraction, 0.0f, 1.0f);
    if (fraction > 0)
        c.fill_rounded(Rect{m.x, m.y, std::max(m.h, m.w * fraction), m.h}, m.h / 2, {slot, 1});
}

void Frame::indeterminate_bar(const Rect& r) {
    Rect m = moved(r);
    c.fill_rounded(m, m.h / 2, {Slot::Surface3, 1});
    double phase = std::fmod(now / 1.4, 1.0);
    float seg = m.w * 0.3f;
    float x = m.x - seg + static_cast<float>(phase) * (m.w + seg);
    float left = std::max(x, m.x);
    float right = std::min(x + seg, m.right());
    if (right > left)
        c.fill_rounded(Rect{left, m.y, right - left, m.h}, m.h / 2, {Slot::Accent, 1});
}

float Frame::badge(std::string_view text_in, float right, float y, Slot fg, Slot bg) {
    float w = std::min(std::ceil(c.measure(text_in, kCaption, 1000).w) + 20, 240.0f);
    Rect r{right - w, y, w, 22};
    c.fill_rounded(moved(r), 11, {bg, 1});
    label(text_in, Rect{r.x + 10, r.y, r.w - 20, r.h}, kCaption, {fg, 1}, Align::Center);
    return r.x;
}

}  // namespace sw::view
