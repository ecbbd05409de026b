// Every screen and overlay of the window built from a scripted state, so
// that they can be looked at (the media tool prints them, a gallery can draw
// them with the real renderer) and checked without running a write.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/window_state.h"

namespace sw {

std::vector<std::string_view> screen_names();

struct ScriptedScreen {
    WindowState state;
    double now = 100;  // the time the frame is drawn at, in the state's seconds
};

// The named screen in a language (0–2) and theme; none for an unknown name.
std::optional<ScriptedScreen> scripted_screen(std::string_view name, uint8_t lang = 0,
                                              Theme theme = Theme::Light,
                                              bool high_contrast = false);

}  // namespace sw
