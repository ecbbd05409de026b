// The recording canvas for window tests (the recorder itself lives beside
// the view, where the screen tool uses it too), with the look-ups tests need.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ui/scripted/recording_canvas.h"
#include "ui/window_state.h"

namespace sw::test {

using sw::RecordingCanvas;

// The first text primitive whose text contains `needle`.
inline const DrawOp* find_text(const RecordingCanvas& canvas, std::string_view needle) {
    for (const auto& op : canvas.ops())
        if (op.kind == DrawOp::Text && op.text.find(needle) != std::string::npos) return &op;
    return nullptr;
}

inline bool has_text(const RecordingCanvas& canvas, std::string_view needle) {
    return find_text(canvas, needle) != nullptr;
}

// The last region (topmost) with this action.
inline const HitRegion* find_region(const WindowState& state, UiAction kind,
                                    std::optional<uint32_t> param = std::nullopt) {
    const HitRegion* found = nullptr;
    for (const auto& r : state.last_frame.regions)
        if (r.id.kind == kind && (!param || r.id.param == *param)) found = &r;
    return found;
}

}  // namespace sw::test
