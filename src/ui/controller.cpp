#include "ui/controller.h"

#include <algorithm>
#include <utility>

#include "core/paths.h"
#include "i18n/format.h"
#include "i18n/messages.h"
#include "logging/logger.h"

namespace sw {

WindowController::WindowController(WindowHost& host, UiWorkers& workers,
                                   std::shared_ptr<MessageQueue> queue, Clock& clock,
                                   WindowState initial)
    : host_(host),
      workers_(workers),
      queue_(std::move(queue)),
      clock_(clock),
      origin_(clock.now()),
      state_(std::move(initial)) {
    state_.screen = screen_of(state_.phase);
    state_.previous_screen = state_.screen;
}

double WindowController::motion(double seconds) const {
    return state_.appearance.animate ? seconds : 0;
}

double WindowController::now() const {
    return elapsed_seconds(origin_, clock_.now());
}

float WindowController::to_dip(int physical) const {
    uint32_t dpi = std::max<uint32_t>(state_.geometry.dpi, 96);
    return static_cast<float>(physical) * 96.0f / static_cast<float>(dpi);
}

void WindowController::start() {
    Guard guard(*this);
    if (!guard.entered()) return;
    state_.appearance.animate = host_.client_area_animation();
    apply_theme();
    request_scan();
    workers_.check_release_and_updates();
    update_animation_timer();
}

void WindowController::show_unelevated() {
    const std::string detail = "process token is not elevated";
    state_.write.failure = JobError::of(JobError::Kind::AccessDenied, detail);
    state_.write.failure_details = detail;
    Logger::write(LogLevel::Info,
                  fmt("state {} -> {}", phase_name(state_.phase), phase_name(AppPhase::Failed)));
    state_.phase = AppPhase::Failed;
    on_phase_changed();
    host_.invalidate();
}

// Called with the guard released, as the handler's last step: the window,
// and this controller with it, may be gone when the host returns.
void WindowController::carry_out(const Effect& effect) {
    switch (effect.kind) {
        case Effect::Nothing:
            break;
        case Effect::OpenPicker:
            host_.open_picker(
                text(language_from_value(state_.appearance.prefs.lang), TextId::IsoFileFilter));
            break;
        case Effect::CloseWindow:
            host_.destroy_window();
            break;
        case Effect::OpenUrl:
        case Effect::OpenFolder:
            host_.shell_open(effect.target);
            break;
    }
}

void WindowController::after_handler() {
    if (std::exchange(wake_put_off_, false)) worker_wake();
    if (std::exchange(paint_put_off_, false)) host_.invalidate();
    // What the handler changed that a screen reader user would not notice
    // by themselves, said once.
    for (const std::string& said : announcements(state_, announced_))
        host_.announce(said);
}

std::string WindowController::failure_details_text() const {
    if (!state_.write.failure) return {};
    FailureMessage f = failure_message(state_);
    auto log = Logger::current_file();
    return fmt("{}\n{}\n\n{}\n\nlog: {}", f.title, f.advice, f.details,
               log ? utf8_of(*log) : std::string());
}

void WindowController::apply_theme() {
    ThemeQueries queries = host_.theme_queries();
    state_.appearance.palette = compute_palette(state_.appearance.prefs.theme, queries);
    host_.set_frame(frame_colors(state_.appearance.palette, state_.appearance.backdrop));
    host_.invalidate();
}

void WindowController::save_settings() {
    save_preferences_to(state_.settings_file, state_.appearance.prefs.theme,
                        state_.appearance.prefs.lang, state_.appearance.prefs.verify);
}

void WindowController::close() {
    Guard guard(*this);
    if (!guard.entered()) return;
    if (state_.drive_check.running) return;
    if (is_write_in_progress(state_.phase)) {
        open_overlay(Overlay::CloseRefused);
        return;
    }
    state_.image.cancel->store(true);
    state_.download.stop->store(true);
    guard.release();
    carry_out({Effect::CloseWindow, {}});
}

bool WindowController::query_end_session() const {
    return !is_write_in_progress(state_.phase);
}

void WindowController::destroy() {
    queue_->clear_waker();
    if (state_.animations.timer) host_.kill_timer(TimerId::Animation);
    state_.animations.timer = false;
}

}  // namespace sw
