// The gallery's two checks on a drawn frame, on any canvas: a text the
// canvas itself lays out wider or taller than the box the view gave it, and
// two hit regions of one frame that overlap.
#pragma once

#include <string>
#include <vector>

#include "ui/canvas.h"
#include "ui/window_state.h"

namespace sw::screens {

// Rounding a layout may do before a text counts as not fitting.
inline constexpr float kFitSlack = 0.5f;

// Forwards every call to `inner` and notes, as
// "FRAME: text '…' 212x40 in box 200x36", each text that `inner` measures
// (wrapped at the box's width) larger than its box.
class FitCheckingCanvas final : public Canvas {
  public:
    FitCheckingCanvas(Canvas& inner, std::vector<std::string>& problems, std::string frame)
        : inner_(inner), problems_(problems), frame_(std::move(frame)) {}

    void fill_rect(const Rect& r, Paint paint) override { inner_.fill_rect(r, paint); }
    void fill_rounded(const Rect& r, float radius, Paint paint) override {
        inner_.fill_rounded(r, radius, paint);
    }
    void stroke_rounded(const Rect& r, float radius, Paint paint, float width) override {
        inner_.stroke_rounded(r, radius, paint, width);
    }
    void line(float x0, float y0, float x1, float y1, Paint paint, float width) override {
        inner_.line(x0, y0, x1, y1, paint, width);
    }
    void fill_ellipse(float cx, float cy, float rx, float ry, Paint paint) override {
        inner_.fill_ellipse(cx, cy, rx, ry, paint);
    }
    void stroke_ellipse(float cx, float cy, float rx, float ry, Paint paint, float width) override {
        inner_.stroke_ellipse(cx, cy, rx, ry, paint, width);
    }
    void text(std::string_view utf8, const Rect& box, const TextStyle& style, Paint paint,
              Align horizontal, Align vertical) override;
    TextExtent measure(std::string_view utf8, const TextStyle& style, float max_width) override {
        return inner_.measure(utf8, style, max_width);
    }
    void icon(const Rect& r, float opacity) override { inner_.icon(r, opacity); }
    void push_clip(const Rect& r) override { inner_.push_clip(r); }
    void pop_clip() override { inner_.pop_clip(); }

  private:
    Canvas& inner_;
    std::vector<std::string>& problems_;
    std::string frame_;
};

// Notes "FRAME: regions A and B overlap" for every pair of regions that
// share some area (touching edges do not count).
void check_regions(const std::vector<HitRegion>& regions, const std::string& frame,
                   std::vector<std::string>& problems);

}  // namespace sw::screens
