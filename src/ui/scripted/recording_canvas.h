// A canvas that draws nothing: it keeps every primitive in a list and
// measures text with a fixed rule per character, so that frames can be
// compared, checked for text that does not fit and printed as JSON without
// a renderer. At 144 DPI widths are rounded up to whole physical pixels, as
// a renderer's layout would be.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/canvas.h"
#include "ui/picture.h"
#include "ui/window_state.h"

namespace sw {

std::string_view op_name(DrawOp::Kind kind);

class RecordingCanvas final : public PictureCanvas {
  public:
    explicit RecordingCanvas(uint32_t dpi = 96) : dpi_(dpi) {}

    TextExtent measure(std::string_view utf8, const TextStyle& style, float max_width) override;

  private:
    float width_of(std::string_view utf8, const TextStyle& style) const;
    float snap(float dip) const;
    uint32_t dpi_;
};

// The draw list and the hit regions as one JSON object:
// {"ops":[{"op":"text","x":…,"slot":12,"opacity":1,"text":"…",…}],"regions":[…]}
std::string frame_json(const std::vector<DrawOp>& ops, const std::vector<HitRegion>& regions);

// "button", "radio", …: a node's role as the tree's JSON names it.
std::string_view a11y_role_name(A11yRole role);
// A frame's accessibility tree as one JSON object, a node a line:
// {"modal":false,"nodes":[{"index":0,"id":…,"role":"button","name":"…",…}]}
std::string a11y_json(const A11yTree& tree);

}  // namespace sw
