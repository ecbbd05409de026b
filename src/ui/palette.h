// The colour slots the view draws with, for the light and dark themes and
// for the system's high-contrast mode, and the window frame's colours. The
// three platform answers are plain inputs so that the choice is testable.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "ui/preferences.h"

namespace sw {

struct Rgba {
    float r = 0, g = 0, b = 0, a = 1;
    friend bool operator==(const Rgba&, const Rgba&) = default;
};

enum class Slot : uint8_t {
    Background = 0,
    Surface,
    Surface2,
    Surface3,
    Line,
    StrongLine,
    Accent,
    Accent2,
    Accent3,
    OnAccent,
    AccentTint,
    Link,
    Text,
    Text2,
    Text3,
    Green,
    GreenTint,
    Amber,
    AmberTint,
    Red,
    Red2,
    RedTint,
    Focus,
    Scrim,
    Shadow,
    WhiteVeil,
    AccentVeil,
    CyanVeil,
};
inline constexpr int kSlotCount = 28;

struct Palette {
    std::array<Rgba, kSlotCount> colors{};
    float opacity = 1;
    bool is_dark = false;
    bool high_contrast = false;
    const Rgba& operator[](Slot s) const { return colors[static_cast<size_t>(s)]; }
};

// The system colours high contrast is built from, as COLORREF (red in the
// low byte).
struct SystemColors {
    uint32_t window = 0xFFFFFF;
    uint32_t window_text = 0;
    uint32_t highlight = 0xD77800;
    uint32_t highlight_text = 0xFFFFFF;
    uint32_t gray_text = 0x6D6D6D;
    uint32_t hot_light = 0xCC6600;
};

// What the platform answered; none where a query failed.
struct ThemeQueries {
    std::optional<bool> high_contrast;
    SystemColors colors;
    std::optional<uint32_t> apps_use_light_theme;
};

Palette light_palette();
Palette dark_palette();
Palette high_contrast_palette(const SystemColors& colors);
Palette compute_palette(Theme theme, const ThemeQueries& queries);

// Components scaled by 255, rounded and saturated; red in the low byte.
uint32_t colorref_of(const Rgba& color);
Rgba rgba_of_colorref(uint32_t colorref, float alpha = 1);

// What the window frame is given after each palette computation.
struct FrameColors {
    bool dark_mode = false;
    std::optional<uint32_t> caption;  // absent: leave the system's
    std::optional<uint32_t> text;
};
FrameColors frame_colors(const Palette& palette, bool backdrop_on);

}  // namespace sw
