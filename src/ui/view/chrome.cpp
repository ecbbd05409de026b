#include <algorithm>
#include <cmath>

#include "core/version.h"
#include "core/text.h"
#include "i18n/format.h"
#include "ui/view/parts.h"

namespace sw::view {

void header(Frame& f) {
    f.c.icon(Rect{kLeft, 20, 28, 28}, 1);
    TextStyle brand{16, 3, FontFamily::Display};
    float w = std::ceil(f.c.measure("Ortivex", brand, 1000).w);
    f.c.text("Ortivex", Rect{kLeft + 38, 20, w + 2, 28}, brand, {Slot::Text, 1}, Align::Start,
             Align::Center);
    TextStyle brand2{16, 1, FontFamily::Display};
    float w2 = std::ceil(f.c.measure("Stickwright", brand2, 1000).w);
    f.c.text("Stickwright", Rect{kLeft + 38 + w + 6, 20, w2 + 2, 28}, brand2, {Slot::Text2, 1},
             Align::Start, Align::Center);
    // The appearance-and-language button: three dots in a round button.
    ElementId id{UiAction::TogglePanel};
    Rect r{kRight - 36, 18, 36, 32};
    float hv = f.hover(id);
    bool open = f.s.overlay == Overlay::Appearance;
    if (hv > 0 || open) f.c.fill_rounded(r, kButtonRadius, {Slot::Surface3, open ? 1.0f : hv});
    for (int i = -1; i <= 1; ++i)
        f.c.fill_ellipse(r.x + r.w / 2 + static_cast<float>(i) * 6, r.y + r.h / 2, 1.6f, 1.6f,
                         {Slot::Text2, 1});
    if (f.focused(id))
        f.c.stroke_rounded(Rect{r.x - 3, r.y - 3, r.w + 6, r.h + 6}, kButtonRadius + 3,
                           {Slot::Focus, 1}, 2);
    f.record(id, r);
    // Named by the panel it opens: it shows no text of its own.
    f.node(f.element_node(id, A11yRole::Button, f.tx(TextId::SettingsTitle)), r);
}

namespace {

// The update notice belongs to the setup screen: it fades with it.
float update_notice_opacity(const Frame& f) {
    const WindowState& s = f.s;
    float fade =
        s.animations.screen_fade.duration > 0 ? s.animations.screen_fade.value(f.now) : 1.0f;
    if (s.screen == ScreenKind::Setup) return fade < 1 && s.previous_screen != s.screen ? fade : 1;
    return s.previous_screen == ScreenKind::Setup ? 1 - fade : 0;
}

}  // namespace

void footer(Frame& f) {
    f.c.fill_rect(Rect{0, kContentBottom, kClientWidth, kClientHeight - kContentBottom},
                  {Slot::Background, 1});
    f.c.line(kLeft, kContentBottom, kRight, kContentBottom, {Slot::Line, 1}, 1);
    float y = kContentBottom + 4;
    const float shown = f.s.download.update ? update_notice_opacity(f) : 0;
    if (shown > 0) {
        ElementId id{UiAction::OpenUpdate};
        std::string notice =
            format_text(f.tx(TextId::UpdateAvailable), {f.s.download.update->version});
        std::string_view link = f.tx(TextId::Download);
        float link_w = std::ceil(f.c.measure(link, kCaption, 1000).w) + 16;
        std::string fitted = f.fit(notice, kSmall, kWidth - link_w - 8);
        float notice_w = std::ceil(f.c.measure(fitted, kSmall, 1000).w) + 1;
        f.c.fill_ellipse(kLeft + 4, y + 10, 3, 3, {Slot::Accent, shown});
        f.c.text(fitted, Rect{kLeft + 14, y, notice_w, 20}, kSmall, {Slot::Text, shown},
                 Align::Start, Align::Center);
        Rect r{kLeft + 14 + notice_w + 6, y, link_w, 20};
        float hv = f.hover(id);
        if (hv > 0) f.c.fill_rounded(r, 4, {Slot::AccentTint, hv * shown});
        f.c.text(link, Rect{r.x + 8, r.y, r.w - 16, r.h}, kCaption, {Slot::Link, shown},
                 Align::Center, Align::Center);
        if (f.focused(id))
            f.c.stroke_rounded(Rect{r.x - 3, r.y - 3, r.w + 6, r.h + 6}, 7, {Slot::Focus, 1}, 2);
        if (f.s.screen == ScreenKind::Setup) {
            f.record(id, r);
            f.text_node(A11yText::UpdateNotice, notice, Rect{kLeft + 14, y, notice_w, 20});
            A11yNode n = f.element_node(id, A11yRole::Button, link);
            n.help = notice;
            f.node(std::move(n), r);
        }
    }
    TextStyle small{11, 1, FontFamily::Text};
    std::string version = fmt("v{}", kVersion);
    float vw = std::ceil(f.c.measure(version, small, 1000).w) + 1;
    float ty = f.s.download.update ? kClientHeight - 20 : kClientHeight - 24;
    std::string line = f.fit(f.tx(TextId::FooterLine), small, kWidth - vw - 12);
    f.c.text(line, Rect{kLeft, ty, kWidth - vw - 12, 16}, small, {Slot::Text3, 1}, Align::Start,
             Align::Center);
    f.c.text(version, Rect{kRight - vw, ty, vw, 16}, small, {Slot::Text3, 1}, Align::End,
             Align::Center);
    f.text_node(A11yText::Footer, fmt("{} {}", f.tx(TextId::FooterLine), version),
                Rect{kLeft, ty, kWidth, 16}, A11yRole::Status);
}

void scroll_indicator(Frame& f, const Rect& view, float limit) {
    const float x = kRight + 12, w = 4;
    const float top = view.y + 6, h = view.h - 12;
    const float thumb = std::max(32.0f, h * view.h / (view.h + limit));
    const float y = top + (h - thumb) * std::clamp(f.scroll / limit, 0.0f, 1.0f);
    f.c.fill_rounded(Rect{x, top, w, h}, w / 2, {Slot::Surface3, 1});
    f.c.fill_rounded(Rect{x, y, w, thumb}, w / 2, {Slot::Text3, 1});
}

}  // namespace sw::view
