// A canvas that draws nothing: it keeps every primitive in a list and
// measures text with a fixed rule per character, so that frames can be
// compared, checked for text that does not fit and printed as JSON without
// a renderer. At 144 DPI widths are rounded up to whole physical pixels, as
// a renderer's layout would be.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ui/canvas.h"
#include "ui/window_state.h"

namespace sw {

std::string_view op_name(DrawOp::Kind kind);

// Draws the primitives again, in their order, on `canvas`.
void replay(const std::vector<DrawOp>& ops, Canvas& canvas);

class RecordingCanvas final : public Canvas {
  public:
    explicit RecordingCanvas(uint32_t dpi = 96) : dpi_(dpi) {}

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

    const std::vector<DrawOp>& ops() const { return ops_; }
    void clear() { ops_.clear(); }
    // The primitives so far, leaving none.
    std::vector<DrawOp> take() { return std::exchange(ops_, {}); }

  private:
    float width_of(std::string_view utf8, const TextStyle& style) const;
    float snap(float dip) const;
    uint32_t dpi_;
    std::vector<DrawOp> ops_;
};

// The draw list and the hit regions as one JSON object:
// {"ops":[{"op":"text","x":…,"slot":12,"opacity":1,"text":"…",…}],"regions":[…]}
std::string frame_json(const std::vector<DrawOp>& ops, const std::vector<HitRegion>& regions);

}  // namespace sw
