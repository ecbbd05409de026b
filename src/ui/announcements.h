// What a screen reader is told without the user acting: what a sighted user
// would notice on the window by itself. Each event is said once, however
// many frames show it, in the window's language.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ui/window_state.h"

namespace sw {

// What was said last, to tell a new event from one already said.
struct Announced {
    // The image request and the verdict said for it (0 none, 1 official,
    // 2 unverified, 3 refused).
    uint64_t verdict_request = 0;
    int verdict = 0;
    // The drives of the last scan seen; none before the first scan, which
    // only sets what counts as already there.
    std::optional<std::vector<DeviceInfo>> drives;
    AppPhase phase = AppPhase::Idle;
    // Tenths of the running write said so far.
    int tenths = 0;
    std::optional<double> copied_at;
};

// The texts to say now that the state is as it is, each once; `said` keeps
// what has been said.
std::vector<std::string> announcements(const WindowState& state, Announced& said);

}  // namespace sw
