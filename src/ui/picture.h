// A screen's picture: the primitives it was drawn with, kept so that it can
// be drawn again as it was (the screen going out fades as it was last seen).
#pragma once

#include <utility>
#include <vector>

#include "ui/canvas.h"

namespace sw {

// Draws the primitives again, in their order, on `canvas`.
void replay(const std::vector<DrawOp>& ops, Canvas& canvas);

// Keeps every primitive drawn on it, in order. How text measures is left to
// the canvas built on it.
class PictureCanvas : public Canvas {
  public:
    void fill_rect(const Rect& r, Paint paint) override;
    void fill_rounded(const Rect& r, float radius, Paint paint) override;
    void stroke_rounded(const Rect& r, float radius, Paint paint, float width) override;
    void line(float x0, float y0, float x1, float y1, Paint paint, float width) override;
    void fill_ellipse(float cx, float cy, float rx, float ry, Paint paint) override;
    void stroke_ellipse(float cx, float cy, float rx, float ry, Paint paint, float width) override;
    void text(std::string_view utf8, const Rect& box, const TextStyle& style, Paint paint,
              Align horizontal, Align vertical) override;
    void icon(const Rect& r, float opacity) override;
    void push_clip(const Rect& r) override;
    void pop_clip() override;

    const std::vector<DrawOp>& ops() const { return ops_; }
    void clear() { ops_.clear(); }
    // The primitives so far, leaving none.
    std::vector<DrawOp> take() { return std::exchange(ops_, {}); }

  private:
    std::vector<DrawOp> ops_;
};

// Draws on another canvas and keeps what it drew, so that a screen can be
// drawn again as it was.
class KeepingCanvas final : public PictureCanvas {
  public:
    explicit KeepingCanvas(Canvas& inner) : inner_(inner) {}

    void fill_rect(const Rect& r, Paint paint) override;
    void fill_rounded(const Rect& r, float radius, Paint paint) override;
    void stroke_rounded(const Rect& r, float radius, Paint paint, float width) override;
    void line(float x0, float y0, float x1, float y1, Paint paint, float width) override;
    void fill_ellipse(float cx, float cy, float rx, float ry, Paint paint) override;
    void stroke_ellipse(float cx, float cy, float rx, float ry, Paint paint, float width) override;
    void text(std::string_view utf8, const Rect& box, const TextStyle& style, Paint paint,
              Align horizontal, Align vertical) override;
    TextExtent measure(std::string_view utf8, const TextStyle& style, float max_width) override;
    void icon(const Rect& r, float opacity) override;
    void push_clip(const Rect& r) override;
    void pop_clip() override;

  private:
    Canvas& inner_;
};

}  // namespace sw
