#include <algorithm>

#include "i18n/format.h"
#include "logging/logger.h"
#include "ui/controller.h"
#include "ui/view.h"

namespace sw {

bool WindowController::ready_to_paint() {
    if (busy_) paint_put_off_ = true;
    return !busy_;
}

void WindowController::paint(Canvas& canvas, std::optional<uint64_t> ms_since_process_start) {
    if (!ready_to_paint()) return;
    Guard guard(*this);
    const double t = now();
    build_frame(state_, canvas, t);
    state_.last_frame.drawn_at = t;
    state_.geometry.scroll = std::min(state_.geometry.scroll, state_.geometry.scroll_limit);
    if (!state_.last_frame.first_logged) {
        state_.last_frame.first_logged = true;
        Logger::write(LogLevel::Info, fmt("first frame {} ms after process start",
                                          ms_since_process_start.value_or(0)));
    }
    update_animation_timer();
}

bool WindowController::animation_needed() const {
    // Judged at the last frame drawn, not now: an animation that was still
    // moving in it needs its final frame, however late the frames come.
    const double t = state_.last_frame.drawn_at;
    const AppPhase p = state_.phase;
    if (p == AppPhase::Downloading || p == AppPhase::ImageSelected ||
        p == AppPhase::ValidatingImage || is_write_in_progress(p))
        return true;
    if (state_.drive_check.running || state_.write.eject == EjectState::Running) return true;
    if (state_.animations.screen_fade.running(t) || state_.animations.overlay_fade.running(t) ||
        state_.animations.switch_anim.running(t))
        return true;
    for (const auto& h : state_.animations.hovers)
        if (h.fade.running(t)) return true;
    if (p == AppPhase::Complete && state_.write.complete_at &&
        t - *state_.write.complete_at < kCompleteAnimation)
        return true;
    if (state_.write.copied_at && t - *state_.write.copied_at < kCopiedMark) return true;
    return false;
}

void WindowController::update_animation_timer() {
    bool need = animation_needed();
    if (need && !state_.animations.timer) {
        host_.set_timer(TimerId::Animation, kAnimationPeriodMs);
        state_.animations.timer = true;
    } else if (!need && state_.animations.timer) {
        host_.kill_timer(TimerId::Animation);
        state_.animations.timer = false;
    }
}

void WindowController::animation_tick() {
    const double t = now();
    if (is_write_in_progress(state_.phase) && state_.write.handles) {
        const WriteProgress& progress = *state_.write.handles->progress;
        apply_write_phases(progress.read_phase());
        WritePhase phase = progress.read_phase();
        uint64_t done = progress.done.load(std::memory_order_relaxed);
        uint64_t total = progress.total.load(std::memory_order_relaxed);
        state_.write.shown_phase = phase;
        state_.write.shown_step = progress.read_step();
        state_.write.shown_done = done;
        state_.write.shown_total = total;
        if (total > 0 && (phase == WritePhase::Writing || phase == WritePhase::Verifying)) {
            state_.write.progress_seen = true;
            if (phase != state_.write.rate_phase) {
                // The counter starts again with each phase: the rate goes on
                // from the new origin instead of seeing the count fall.
                state_.write.rate.last_bytes = done;
                state_.write.rate.last_time = t;
                state_.write.rate_phase = phase;
            }
            rate_sample(state_.write.rate, t, done);
            uint64_t left = total - std::min(done, total);
            if (phase == WritePhase::Writing && state_.write.verify) left += total;
            std::optional<double> rate;
            if (state_.write.rate.has_value) rate = state_.write.rate.rate;
            state_.write.remaining =
                time_remaining(state_.write.remaining_estimator, t, left, rate);
        } else if (state_.write.remaining_estimator.has_value) {
            state_.write.remaining =
                time_remaining(state_.write.remaining_estimator, t, 0, std::nullopt);
        }
        double value = 0;
        if (total > 0) {
            double fraction =
                static_cast<double>(std::min(done, total)) / static_cast<double>(total);
            if (phase == WritePhase::Writing) value = 0.7 * fraction;
            if (phase == WritePhase::Verifying) value = 0.7 + 0.3 * fraction;
        }
        host_.set_taskbar_state(TaskbarState::Normal);
        host_.set_taskbar_value(static_cast<uint32_t>(value * 1000));
    }
    if (state_.download.running)
        rate_sample(state_.download.rate, t, state_.download.progress->done.load());
    // Hover fades that have faded out are forgotten.
    std::erase_if(state_.animations.hovers, [&](const HoverFade& h) {
        return !h.fade.running(t) && h.fade.to == 0 && !(h.id == state_.input.hovered);
    });
    host_.invalidate();
}

}  // namespace sw
