// What the view draws through: filled and stroked shapes, text in a box and
// measured, and the program icon, all in device-independent pixels. Colours
// are palette slots with an opacity factor, so a theme change never touches
// the view.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ui/palette.h"

namespace sw {

struct Rect {
    float x = 0, y = 0, w = 0, h = 0;
    float right() const { return x + w; }
    float bottom() const { return y + h; }
    bool contains(float px, float py) const {
        return x <= px && px < x + w && y <= py && py < y + h;
    }
    friend bool operator==(const Rect&, const Rect&) = default;
};

struct Paint {
    Slot slot = Slot::Text;
    float opacity = 1;
};

enum class FontFamily : uint8_t { Display = 0, Text = 1, Mono = 2 };

struct TextStyle {
    float size = 14;
    uint8_t weight = 1;  // 300 + 100 × weight: 1 regular, 2 medium, 3 semibold, 4 bold
    FontFamily family = FontFamily::Text;
};

enum class Align : uint8_t { Start, Center, End };

struct TextExtent {
    float w = 0, h = 0;
};

// One primitive as it was drawn.
struct DrawOp {
    enum Kind {
        FillRect,
        FillRounded,
        StrokeRounded,
        Line,
        FillEllipse,
        StrokeEllipse,
        Text,
        Icon,
        PushClip,
        PopClip
    };
    Kind kind = FillRect;
    Rect rect;  // lines: x0, y0 and the offsets to x1, y1; ellipses: the bounding box
    Paint paint;
    float radius = 0;
    float width = 0;  // strokes and lines
    std::string text;
    TextStyle style;
    Align horizontal = Align::Start;
    Align vertical = Align::Start;
};

class Canvas {
  public:
    virtual ~Canvas() = default;
    virtual void fill_rect(const Rect& r, Paint paint) = 0;
    virtual void fill_rounded(const Rect& r, float radius, Paint paint) = 0;
    virtual void stroke_rounded(const Rect& r, float radius, Paint paint, float width) = 0;
    virtual void line(float x0, float y0, float x1, float y1, Paint paint, float width) = 0;
    virtual void fill_ellipse(float cx, float cy, float rx, float ry, Paint paint) = 0;
    virtual void stroke_ellipse(float cx, float cy, float rx, float ry, Paint paint,
                                float width) = 0;
    // Text laid out in `box` (wrapped at its width), aligned on both axes.
    virtual void text(std::string_view utf8, const Rect& box, const TextStyle& style, Paint paint,
                      Align horizontal, Align vertical) = 0;
    // The laid-out size of `utf8` when wrapped at `max_width`.
    virtual TextExtent measure(std::string_view utf8, const TextStyle& style, float max_width) = 0;
    // The program icon.
    virtual void icon(const Rect& r, float opacity) = 0;
    // Drawing outside `r` is cut off until the matching pop_clip.
    virtual void push_clip(const Rect& r) = 0;
    virtual void pop_clip() = 0;
};

}  // namespace sw
