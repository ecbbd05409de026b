// One frame of the window, drawn from the state alone: the header, the
// screen of the current phase (scrolled), the footer and the overlay. Every
// interactive element is recorded as a hit region, in drawing order, with
// the guard of its action as its enabled flag.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "image/iso9660.h"
#include "ui/canvas.h"
#include "ui/window_state.h"

namespace sw {

// The window's client area in device-independent pixels.
inline constexpr float kClientWidth = 560;
inline constexpr float kClientHeight = 720;
// Where the scrolled screen content lies.
inline constexpr float kContentTop = 64;
inline constexpr float kContentBottom = 672;

void build_frame(WindowState& state, Canvas& canvas, double now);

// The image file whose bytes contain `position` (files sorted by offset), if any.
const ImageFile* file_at_position(const std::vector<ImageFile>& files, uint64_t position);

// How far the running write is, 0 to 1, as its progress bar shows it: the
// writing is the first 70 % when it is verified afterwards.
float write_fraction(const WindowState& state);

// "7:05", "64:00": whole elapsed seconds as minutes and seconds.
std::string elapsed_text(double seconds);

}  // namespace sw
