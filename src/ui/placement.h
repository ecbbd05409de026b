// Where the window opens, and at what scale. The window is 560 × 720
// device-independent pixels and cannot be resized; on a screen too small for
// it at the monitor's scale (a 1080-line laptop at 150 %) it would reach
// under the taskbar, hiding the button that starts the write, and its title
// bar would start above the top edge, with nothing left to drag.
#pragma once

#include <cstdint>

namespace sw {

struct ScreenArea {
    int left = 0, top = 0, right = 0, bottom = 0;
};

struct WindowOrigin {
    int x = 0, y = 0;
    bool operator==(const WindowOrigin&) const = default;
};

// `work` is the part of the screen the taskbar leaves. The centred position
// moves up or left as far as needed to end inside the work area, and never
// past its top-left corner; an empty work area leaves the centred position.
WindowOrigin window_origin(int screen_width, int screen_height, const ScreenArea& work, int width,
                           int height);

// The DPI the window lays itself out at on a monitor of `dpi`: that DPI, or
// less where the client area with the frame (`frame_width` × `frame_height`
// pixels at `dpi`) would not fit the work area; never below 96, and `dpi`
// itself when the work area is empty.
uint32_t fitting_dpi(uint32_t dpi, int frame_width, int frame_height, const ScreenArea& work);

}  // namespace sw
