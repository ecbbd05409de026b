#include <algorithm>
#include <optional>
#include <vector>

#include "ui/controller.h"

namespace sw {

const HitRegion* WindowController::hit_test(float x, float y) const {
    for (auto it = state_.last_frame.regions.rbegin(); it != state_.last_frame.regions.rend(); ++it)
        if (it->rect.contains(x, y)) return &*it;
    return nullptr;
}

void WindowController::reveal(ElementId id) {
    constexpr float kMargin = 8;
    for (const HitRegion& r : state_.last_frame.regions) {
        if (!(r.id == id) || r.id.param != id.param) continue;
        if (r.rect == r.whole) return;  // wholly in sight
        const Rect& view = state_.geometry.viewport;
        float shift = 0;
        if (r.whole.y < view.y) shift = r.whole.y - view.y - kMargin;
        if (r.whole.bottom() > view.bottom()) shift = r.whole.bottom() - view.bottom() + kMargin;
        state_.geometry.scroll =
            std::clamp(state_.geometry.scroll + shift, 0.0f, state_.geometry.scroll_limit);
        host_.invalidate();
        return;
    }
}

void WindowController::set_hovered(ElementId id) {
    if (id == state_.input.hovered) return;
    const double t = now();
    auto fade_to = [&](ElementId e, float target, double duration) {
        if (e.is_none()) return;
        for (auto& h : state_.animations.hovers) {
            if (h.id == e) {
                h.fade = Animation::run(t, duration, h.fade.value(t), target);
                return;
            }
        }
        state_.animations.hovers.push_back({e, Animation::run(t, duration, 0, target)});
    };
    fade_to(state_.input.hovered, 0, motion(kHoverOut));
    fade_to(id, 1, motion(kHoverIn));
    state_.input.hovered = id;
    host_.invalidate();
    update_animation_timer();
}

void WindowController::size(uint32_t width, uint32_t height) {
    state_.geometry.client_width = width;
    state_.geometry.client_height = height;
}

void WindowController::dpi_changed(uint32_t dpi) {
    Guard guard(*this);
    if (!guard.entered()) return;
    state_.geometry.dpi = std::max<uint32_t>(dpi, 96);
    host_.invalidate();
}

void WindowController::settings_changed() {
    Guard guard(*this);
    if (!guard.entered()) return;
    state_.appearance.animate = host_.client_area_animation();
    apply_theme();
}

void WindowController::mouse_move(int x, int y) {
    Guard guard(*this);
    if (!guard.entered()) return;
    if (!state_.input.tracking_leave) {
        host_.track_pointer_leave();
        state_.input.tracking_leave = true;
    }
    const HitRegion* hit = hit_test(to_dip(x), to_dip(y));
    set_hovered(hit ? hit->id : ElementId{});
}

void WindowController::mouse_leave() {
    Guard guard(*this);
    if (!guard.entered()) return;
    set_hovered({});
    state_.input.tracking_leave = false;
}

void WindowController::button_down(int x, int y) {
    Guard guard(*this);
    if (!guard.entered()) return;
    host_.capture_pointer();
    state_.input.focus_visible = false;
    const HitRegion* hit = hit_test(to_dip(x), to_dip(y));
    state_.input.pressed = hit && hit->enabled ? hit->id : ElementId{};
    if (!hit && state_.overlay == Overlay::Appearance) close_overlay();
    host_.invalidate();
}

void WindowController::button_up(int x, int y) {
    Guard guard(*this);
    if (!guard.entered()) return;
    host_.release_pointer();
    ElementId pressed = state_.input.pressed;
    state_.input.pressed = {};
    const HitRegion* hit = hit_test(to_dip(x), to_dip(y));
    host_.invalidate();
    if (pressed.is_none() || !hit || !(hit->id == pressed) || !hit->enabled) return;
    Effect effect = perform_action(hit->id);
    guard.release();
    carry_out(effect);
}

void WindowController::wheel(int delta) {
    Guard guard(*this);
    if (!guard.entered()) return;
    // From the top of the content to its end, as the last frame measured it.
    state_.geometry.scroll =
        std::clamp(state_.geometry.scroll + static_cast<float>(delta) / 120.0f * -kWheelStep, 0.0f,
                   std::max(0.0f, state_.geometry.scroll_limit));
    host_.invalidate();
}

void WindowController::set_cursor() {
    bool hand = false;
    for (const auto& r : state_.last_frame.regions)
        if (r.enabled && r.id == state_.input.hovered && !state_.input.hovered.is_none())
            hand = true;
    host_.set_cursor(hand ? CursorKind::Hand : CursorKind::Arrow);
}

namespace {

bool enabled_in(const std::vector<HitRegion>& regions, ElementId element) {
    if (element.is_none()) return false;
    for (const HitRegion& r : regions)
        if (r.enabled && r.id == element && r.id.param == element.param) return true;
    return false;
}

// The enabled elements of the last frame, each once, in drawing order: the
// order the Tab key goes through.
std::vector<ElementId> focus_order(const std::vector<HitRegion>& regions) {
    std::vector<ElementId> enabled;
    for (const auto& r : regions) {
        if (!r.enabled) continue;
        bool seen = false;
        for (const auto& e : enabled)
            seen = seen || (e == r.id && e.param == r.id.param);
        if (!seen) enabled.push_back(r.id);
    }
    return enabled;
}

std::optional<size_t> index_of(const std::vector<ElementId>& order, ElementId id) {
    for (size_t i = 0; i < order.size(); ++i)
        if (order[i] == id && order[i].param == id.param) return i;
    return std::nullopt;
}

}  // namespace

void WindowController::key_down(Key key, bool shift) {
    Guard guard(*this);
    if (!guard.entered()) return;
    switch (key) {
        case Key::Tab:
            move_focus(shift);
            return;
        case Key::Enter:
        case Key::Space: {
            if (state_.input.focus.is_none() ||
                !index_of(focus_order(state_.last_frame.regions), state_.input.focus))
                return;
            Effect effect = perform_action(state_.input.focus);
            guard.release();
            carry_out(effect);
            return;
        }
        case Key::Escape:
            escape();
            return;
        case Key::Up:
        case Key::Down:
            select_next_drive(key == Key::Up);
            return;
        case Key::Other:
            return;
    }
}

void WindowController::invoke(ElementId element) {
    Guard guard(*this);
    if (!guard.entered()) return;
    if (!enabled_in(state_.last_frame.regions, element)) return;
    host_.invalidate();
    Effect effect = perform_action(element);
    guard.release();
    carry_out(effect);
}

void WindowController::focus_element(ElementId element) {
    Guard guard(*this);
    if (!guard.entered()) return;
    if (!enabled_in(state_.last_frame.regions, element)) return;
    state_.input.focus = element;
    state_.input.focus_visible = true;
    reveal(element);
    host_.invalidate();
}

void WindowController::move_focus(bool backwards) {
    std::vector<ElementId> enabled = focus_order(state_.last_frame.regions);
    if (enabled.empty()) return;
    auto at = index_of(enabled, state_.input.focus);
    size_t n = enabled.size();
    size_t next = !at ? (backwards ? n - 1 : 0) : (backwards ? (*at + n - 1) % n : (*at + 1) % n);
    state_.input.focus = enabled[next];
    state_.input.focus_visible = true;
    reveal(state_.input.focus);
    host_.invalidate();
}

void WindowController::escape() {
    switch (state_.overlay) {
        case Overlay::None:
            return;
        case Overlay::EraseConfirm:
            close_overlay();
            dispatch_event(AppEvent::of(EventKind::ConfirmDismissed));
            return;
        case Overlay::StopConfirm:
        case Overlay::Appearance:
        case Overlay::CloseRefused:
        case Overlay::RestoreConfirm:
            close_overlay();
            return;
        case Overlay::DriveCheck:
            if (!state_.drive_check.running) close_overlay();
            return;
    }
}

// The arrow keys move the choice among the drives that may be chosen.
void WindowController::select_next_drive(bool up) {
    auto offered = offered_drives(state_);
    if (state_.overlay != Overlay::None || state_.phase >= AppPhase::Preparing || offered.empty())
        return;
    const DeviceInfo* current = selected_drive(state_);
    size_t n = offered.size();
    size_t pick = 0;
    for (size_t i = 0; i < n && current; ++i) {
        if (offered[i] == current) pick = up ? (i + n - 1) % n : (i + 1) % n;
    }
    uint32_t number = offered[pick]->number;
    select_drive(number);
    state_.input.focus = {UiAction::SelectDrive, number};
    state_.input.focus_visible = true;
    reveal(state_.input.focus);
    host_.invalidate();
}

void WindowController::timer(TimerId id) {
    Guard guard(*this);
    if (!guard.entered()) return;
    if (id == TimerId::DeviceChange) {
        host_.kill_timer(TimerId::DeviceChange);
        request_scan();
        return;
    }
    animation_tick();
    update_animation_timer();
}

void WindowController::device_change() {
    host_.set_timer(TimerId::DeviceChange, kRescanDelayMs);
}

void WindowController::picker_result(const std::optional<std::string>& path) {
    Guard guard(*this);
    if (!guard.entered()) return;
    if (!path || !is_setup_idle(state_.phase)) return;
    select_image(*path, std::nullopt);
}

}  // namespace sw
