#include "ui/palette.h"

#include <cmath>

namespace sw {

namespace {

constexpr Rgba hex(uint32_t rgb, float alpha = 1) {
    return Rgba{static_cast<float>((rgb >> 16) & 0xFF) / 255.0f,
                static_cast<float>((rgb >> 8) & 0xFF) / 255.0f,
                static_cast<float>(rgb & 0xFF) / 255.0f, alpha};
}

Palette from(const std::array<Rgba, kSlotCount>& colors, float opacity, bool dark) {
    Palette p;
    p.colors = colors;
    p.opacity = opacity;
    p.is_dark = dark;
    return p;
}

}  // namespace

Palette light_palette() {
    return from(
        {hex(0xF3F5F8),        hex(0xFFFFFF),        hex(0xF4F7FB),        hex(0xE9EEF5),
         hex(0xE1E6EC),        hex(0xC5CCD6),        hex(0x0566C1),        hex(0x0A72D4),
         hex(0x04579F),        hex(0xFFFFFF),        hex(0xE7F0FA),        hex(0x0566C1),
         hex(0x0F1722),        hex(0x566273),        hex(0x8A94A3),        hex(0x16794A),
         hex(0xE5F4EC),        hex(0xA65A00),        hex(0xFDF1E1),        hex(0xC42B2B),
         hex(0xD63A3A),        hex(0xFCEAEA),        hex(0x0566C1),        hex(0x0B1220, 0.38f),
         hex(0x0B1220, 0.07f), hex(0xFFFFFF, 0.95f), hex(0x0566C1, 0.38f), hex(0x12B5D6, 0.34f)},
        0.46f, false);
}

Palette dark_palette() {
    return from(
        {hex(0x0B0F15),        hex(0x131922),        hex(0x19212C),        hex(0x202936),
         hex(0x242C38),        hex(0x364152),        hex(0x0566C1),        hex(0x1177D6),
         hex(0x0459A6),        hex(0xFFFFFF),        hex(0x0F2540),        hex(0x5AA7F0),
         hex(0xE9EDF3),        hex(0x9BA6B5),        hex(0x687384),        hex(0x3CC47F),
         hex(0x10281D),        hex(0xF0A33A),        hex(0x2E2210),        hex(0xF06464),
         hex(0xF47B7B),        hex(0x301617),        hex(0x5AA7F0),        hex(0x000000, 0.55f),
         hex(0x000000, 0.30f), hex(0xFFFFFF, 0.16f), hex(0x0A6FD0, 0.55f), hex(0x0FA3B8, 0.36f)},
        0.38f, true);
}

Rgba rgba_of_colorref(uint32_t c, float alpha) {
    return Rgba{static_cast<float>(c & 0xFF) / 255.0f, static_cast<float>((c >> 8) & 0xFF) / 255.0f,
                static_cast<float>((c >> 16) & 0xFF) / 255.0f, alpha};
}

Palette high_contrast_palette(const SystemColors& s) {
    const Rgba w = rgba_of_colorref(s.window);
    const Rgba wt = rgba_of_colorref(s.window_text);
    const Rgba hl = rgba_of_colorref(s.highlight);
    const Rgba ht = rgba_of_colorref(s.highlight_text);
    const Rgba gt = rgba_of_colorref(s.gray_text);
    const Rgba hot = rgba_of_colorref(s.hot_light);
    const Rgba clear = rgba_of_colorref(s.window, 0);
    Palette p = from({w,  w,  w, w,  wt, wt, hl, hl, hl, ht,    w,     hot,   wt,    wt,
                      gt, wt, w, wt, w,  wt, wt, w,  hl, clear, clear, clear, clear, clear},
                     1.0f, w.r + w.g + w.b < 1.5f);
    p.high_contrast = true;
    return p;
}

Palette compute_palette(Theme theme, const ThemeQueries& q) {
    if (q.high_contrast.value_or(false)) return high_contrast_palette(q.colors);
    switch (theme) {
        case Theme::Light:
            return light_palette();
        case Theme::Dark:
            return dark_palette();
        case Theme::System:
            break;
    }
    if (q.apps_use_light_theme && *q.apps_use_light_theme == 0) return dark_palette();
    return light_palette();
}

uint32_t colorref_of(const Rgba& c) {
    auto byte = [](float v) -> uint32_t {
        float scaled = std::round(v * 255.0f);
        if (!(scaled > 0)) return 0;  // also NaN
        if (scaled >= 255) return 255;
        return static_cast<uint32_t>(scaled);
    };
    return byte(c.r) | (byte(c.g) << 8) | (byte(c.b) << 16);
}

FrameColors frame_colors(const Palette& palette, bool backdrop_on) {
    FrameColors f;
    f.dark_mode = palette.is_dark;
    if (!palette.high_contrast && !backdrop_on) {
        f.caption = colorref_of(palette[Slot::Background]);
        f.text = colorref_of(palette[Slot::Text]);
    }
    return f;
}

}  // namespace sw
