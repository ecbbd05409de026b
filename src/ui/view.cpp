#include "ui/view.h"

#include <algorithm>

#include "core/text.h"
#include "ui/picture.h"
#include "ui/view/parts.h"

namespace sw {

namespace {

using namespace view;

void draw_screen(Frame& f, ScreenKind kind) {
    switch (kind) {
        case ScreenKind::Setup:
            setup_screen(f);
            break;
        case ScreenKind::Progress:
            progress_screen(f);
            break;
        case ScreenKind::Complete:
            complete_screen(f);
            break;
        case ScreenKind::Cancelled:
            cancelled_screen(f);
            break;
        case ScreenKind::Failed:
            failed_screen(f);
            break;
    }
}

}  // namespace

const ImageFile* file_at_position(const std::vector<ImageFile>& files, uint64_t position) {
    auto after = std::upper_bound(files.begin(), files.end(), position,
                                  [](uint64_t p, const ImageFile& f) { return p < f.offset; });
    if (after == files.begin()) return nullptr;
    auto last = after - 1;
    for (int back = 0; back < 3; ++back) {
        if (last->offset <= position && position < last->offset + last->size) return &*last;
        if (last == files.begin()) break;
        --last;
    }
    return nullptr;
}

std::string elapsed_text(double seconds) {
    uint64_t whole = seconds > 0 ? static_cast<uint64_t>(seconds) : 0;
    uint64_t s = whole % 60;
    return fmt("{}:{}{}", whole / 60, s < 10 ? "0" : "", s);
}

float write_fraction(const WindowState& s) {
    if (s.write.shown_total == 0) {
        if (s.phase == AppPhase::Flushing) return s.write.verify ? 0.7f : 1.0f;
        if (s.phase == AppPhase::Ejecting) return 1.0f;
        if (s.phase == AppPhase::Verifying) return 0.7f;
        return 0;
    }
    float part =
        static_cast<float>(static_cast<double>(std::min(s.write.shown_done, s.write.shown_total)) /
                           static_cast<double>(s.write.shown_total));
    float write_share = s.write.verify ? 0.7f : 1.0f;
    switch (s.phase) {
        case AppPhase::Writing:
            return write_share * part;
        case AppPhase::Flushing:
            return write_share;
        case AppPhase::Verifying:
            return 0.7f + 0.3f * part;
        case AppPhase::Ejecting:
            return 1.0f;
        default:
            return 0;
    }
}

void build_frame(WindowState& state, Canvas& canvas, double now) {
    Frame f{state, canvas, now, string_table(language_from_value(state.appearance.prefs.lang))};
    state.last_frame.regions.clear();
    A11yTree& tree = state.last_frame.a11y;
    tree = A11yTree{};
    canvas.fill_rect(Rect{0, 0, kClientWidth, kClientHeight}, {Slot::Background, 1});
    // Below an overlay nothing can be pressed: only the overlay's regions count.
    const bool live = state.overlay == Overlay::None;
    // Nor does a screen reader see anything but an open overlay.
    f.tree = live ? &tree : nullptr;
    header(f);
    const Rect content{0, kContentTop, kClientWidth, kContentBottom - kContentTop};
    canvas.push_clip(content);
    float fade =
        state.animations.screen_fade.duration > 0 ? state.animations.screen_fade.value(now) : 1.0f;
    if (fade < 1 && state.previous_screen != state.screen) {
        // The old screen fades out under the new one, as it was last drawn.
        replay(state.last_frame.outgoing_picture, canvas);
        canvas.fill_rect(content, {Slot::Background, fade});
    }
    // Only the setup screen scrolls; it says so itself.
    state.geometry.viewport = content;
    state.geometry.scroll_limit = 0;
    KeepingCanvas kept(canvas);
    Frame screen{state, kept, now, f.t};
    screen.regions_on = live;
    screen.tree = f.tree;
    screen.visible = content;
    draw_screen(screen, state.screen);
    state.last_frame.screen_picture = kept.take();
    canvas.pop_clip();
    f.regions_on = live;
    footer(f);
    f.regions_on = true;
    f.tree = &tree;
    overlay(f);
}

}  // namespace sw