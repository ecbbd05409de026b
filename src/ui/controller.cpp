#include "ui/controller.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "core/paths.h"
#include "core/text.h"
#include "i18n/format.h"
#include "i18n/messages.h"
#include "i18n/strings.h"
#include "logging/logger.h"
#include "ui/view.h"

namespace sw {

namespace {

void log_info(std::string_view line) {
    Logger::write(LogLevel::Info, line);
}

std::string usb_numbers(const std::vector<DeviceInfo>& drives) {
    std::string out;
    for (const auto& d : drives) {
        if (d.bus.kind != BusKind::Usb) continue;
        if (!out.empty()) out += ", ";
        out += std::to_string(d.number);
    }
    return out;
}

}  // namespace

// Marks that a handler runs, so that a message arriving from inside a modal
// loop the handler started is not processed against a half-updated state;
// what such a message asked for is done when the handler ends.
struct WindowController::Guard {
    explicit Guard(WindowController& ui) : ui_(ui), entered_(!ui.busy_) {
        if (entered_) ui_.busy_ = true;
    }
    ~Guard() { release(); }
    // Ends the handler. An effect carried out after this may destroy the
    // window and the controller with it: nothing may touch either after it.
    void release() {
        if (!entered_) return;
        entered_ = false;
        ui_.busy_ = false;
        ui_.after_handler();
    }
    bool entered() const { return entered_; }
    WindowController& ui_;
    bool entered_;
};

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

double WindowController::now() const {
    return elapsed_seconds(origin_, clock_.now());
}

float WindowController::to_dip(int physical) const {
    uint32_t dpi = std::max<uint32_t>(state_.dpi, 96);
    return static_cast<float>(physical) * 96.0f / static_cast<float>(dpi);
}

void WindowController::start() {
    Guard guard(*this);
    if (!guard.entered()) return;
    apply_theme();
    request_scan();
    workers_.check_release_and_updates();
    update_animation_timer();
}

void WindowController::show_unelevated() {
    const std::string detail = "process token is not elevated";
    state_.failure = JobError::of(JobError::Kind::AccessDenied, detail);
    state_.failure_details = detail;
    log_info(fmt("state {} -> {}", phase_name(state_.phase), phase_name(AppPhase::Failed)));
    state_.phase = AppPhase::Failed;
    on_phase_changed();
    host_.invalidate();
}

// --- The state machine -----------------------------------------------------

bool WindowController::dispatch_event(AppEvent event) {
    const AppPhase old = state_.phase;
    auto next = transition(old, event);
    if (!next) {
        Logger::write(LogLevel::Warn,
                      fmt("ignored event {} in state {}", event_name(event), phase_name(old)));
        return false;
    }
    if (*next != old)
        log_info(fmt("state {} --{}--> {}", phase_name(old), event_name(event), phase_name(*next)));
    state_.phase = *next;
    on_phase_changed();
    host_.invalidate();
    return true;
}

void WindowController::on_phase_changed() {
    ScreenKind screen = screen_of(state_.phase);
    if (screen != state_.screen) {
        state_.previous_screen = state_.screen;
        state_.screen = screen;
        // The screen going out fades as it was last drawn, not as the new
        // phase would draw it. Not drawn since the last change, the one
        // before is still what is seen.
        if (!state_.screen_picture.empty())
            state_.outgoing_picture = std::move(state_.screen_picture);
        state_.screen_picture.clear();
        state_.screen_fade = Animation::run(now(), kScreenFade, 0, 1);
        if (screen == ScreenKind::Complete) state_.complete_at = now();
        set_hovered({});
        state_.focus = {};
        state_.scroll = 0;
    }
    update_animation_timer();
}

void WindowController::open_overlay(Overlay overlay) {
    state_.overlay = overlay;
    state_.overlay_fade = Animation::run(now(), kOverlayFade, 0, 1);
    switch (overlay) {
        case Overlay::EraseConfirm:
            state_.focus = {UiAction::DismissErase};
            break;
        case Overlay::StopConfirm:
            state_.focus = {UiAction::DismissOverlay};
            break;
        case Overlay::CloseRefused:
            state_.focus = {UiAction::ClosePanel};
            break;
        case Overlay::DriveCheck:
            state_.focus = {UiAction::CloseDriveCheck};
            break;
        case Overlay::None:
        case Overlay::Appearance:
            state_.focus = {};
            break;
    }
    host_.invalidate();
    update_animation_timer();
}

void WindowController::close_overlay() {
    state_.overlay = Overlay::None;
    state_.focus = {};
    host_.invalidate();
    update_animation_timer();
}

Effect WindowController::perform_action(ElementId action) {
    if (!action_enabled(state_, action)) return {};
    switch (action.kind) {
        case UiAction::TogglePanel:
            if (state_.overlay == Overlay::None) {
                open_overlay(Overlay::Appearance);
            } else if (state_.overlay == Overlay::Appearance) {
                close_overlay();
            }
            return {};
        case UiAction::SelectImage:
            return {Effect::OpenPicker, {}};
        case UiAction::DownloadLatest: {
            std::optional<std::filesystem::path> folder = host_.downloads_folder();
            if (!folder) {
                if (const char* profile = std::getenv("USERPROFILE"); profile && *profile)
                    folder = path_from_utf8(profile) / "Downloads";
            }
            if (!folder) {
                Logger::write(LogLevel::Warn, "download: no Downloads folder");
                return {};
            }
            state_.download_progress->reset();
            state_.download_error.reset();
            state_.refused_image.reset();
            if (!dispatch_event(AppEvent::of(EventKind::DownloadStarted))) return {};
            state_.download_stop = std::make_shared<std::atomic<bool>>(false);
            state_.download_running = true;
            reset_rate(state_.download_rate, now());
            workers_.download(*folder, state_.download_progress, state_.download_stop);
            host_.set_taskbar_state(TaskbarState::Indeterminate);
            update_animation_timer();
            return {};
        }
        case UiAction::StopDownload:
            state_.download_stop->store(true);
            return {};
        case UiAction::SelectDrive:
            select_drive(action.param);
            return {};
        case UiAction::Create:
            if (dispatch_event(AppEvent::of(EventKind::CreatePressed)))
                open_overlay(Overlay::EraseConfirm);
            return {};
        case UiAction::DismissErase:
            close_overlay();
            dispatch_event(AppEvent::of(EventKind::ConfirmDismissed));
            return {};
        case UiAction::AcceptErase: {
            close_overlay();
            const DeviceInfo* drive = selected_drive(state_);
            if (drive == nullptr || !state_.image || !state_.image->inspection) {
                dispatch_event(AppEvent::of(EventKind::ConfirmDismissed));
                return {};
            }
            DeviceInfo chosen = *drive;
            if (dispatch_event(AppEvent::of(EventKind::ConfirmAccepted))) start_write_on(chosen);
            return {};
        }
        case UiAction::StopWrite:
            open_overlay(Overlay::StopConfirm);
            return {};
        case UiAction::DismissOverlay:
        case UiAction::ClosePanel:
            close_overlay();
            return {};
        case UiAction::ConfirmStop:
            close_overlay();
            log_info("operator stopped the write");
            if (state_.write) workers_.stop_write(*state_.write);
            return {};
        case UiAction::Done:
        case UiAction::TryAgain: {
            release_write();
            dispatch_event(AppEvent::of(EventKind::Reset));
            if (state_.image && state_.phase == AppPhase::Idle) {
                SelectedImage again = *state_.image;
                select_image(again.path, again.download_digest);
            }
            request_scan();
            return {};
        }
        case UiAction::ToggleDetails:
            state_.details_expanded = !state_.details_expanded;
            host_.invalidate();
            return {};
        case UiAction::CopyDetails:
            host_.set_clipboard_text(failure_details_text());
            state_.copied_at = now();
            host_.invalidate();
            update_animation_timer();
            return {};
        case UiAction::SetTheme:
            state_.prefs.theme = static_cast<Theme>(std::min<uint32_t>(action.param, 2));
            save_settings();
            apply_theme();
            return {};
        case UiAction::SetLanguage:
            state_.lang = static_cast<uint8_t>(std::min<uint32_t>(action.param, 2));
            state_.prefs.lang = state_.lang;
            save_settings();
            host_.invalidate();
            return {};
        case UiAction::OpenUpdate:
            if (starts_with_ascii_ci(state_.update->url, "https://"))
                return {Effect::OpenUrl, state_.update->url};
            return {};
        case UiAction::OpenLogFolder:
            close_overlay();
            if (state_.log_folder) return {Effect::OpenFolder, utf8_of(*state_.log_folder)};
            return {};
        case UiAction::CheckDrive: {
            const DeviceInfo* drive = selected_drive(state_);
            if (drive == nullptr) return {};
            state_.drive_check_running = true;
            state_.checked_drive = *drive;
            state_.drive_check.reset();
            workers_.check_drive(*drive);
            open_overlay(Overlay::DriveCheck);
            return {};
        }
        case UiAction::ToggleVerify: {
            float from = state_.switch_anim.value(now());
            state_.prefs.verify = !state_.prefs.verify;
            save_settings();
            state_.switch_anim =
                Animation::run(now(), kSwitchAnimation, from, state_.prefs.verify ? 1.0f : 0.0f);
            host_.invalidate();
            update_animation_timer();
            return {};
        }
        case UiAction::Eject:
            if (!state_.write_drive) return {};
            state_.eject = EjectState::Running;
            workers_.eject(*state_.write_drive);
            host_.invalidate();
            update_animation_timer();
            return {};
        case UiAction::CloseDriveCheck:
            close_overlay();
            return {};
        case UiAction::None:
            return {};
    }
    return {};
}

void WindowController::select_image(const std::string& path,
                                    std::optional<Sha256Digest> download_digest) {
    log_info(fmt("image picked: {}", path));
    state_.validation_cancel->store(true);
    state_.validation_cancel = std::make_shared<std::atomic<bool>>(false);
    state_.validation_progress = std::make_shared<ValidationProgress>();
    ++state_.validation_request;
    state_.image = SelectedImage{path, download_digest, std::nullopt, false};
    // The card tells what happened last.
    state_.refused_image.reset();
    state_.download_error.reset();
    if (state_.phase != AppPhase::ImageSelected)
        dispatch_event(AppEvent::of(EventKind::ImagePicked));
    dispatch_event(AppEvent::of(EventKind::ValidationStarted));
    ValidationRequest request{path, state_.validation_request, download_digest};
    workers_.validate(std::move(request), state_.validation_progress, state_.validation_cancel);
    update_animation_timer();
}

void WindowController::select_drive(uint32_t number) {
    if (state_.phase > AppPhase::Confirming || state_.overlay == Overlay::EraseConfirm) return;
    for (const DeviceInfo* d : offered_drives(state_)) {
        if (d->number != number) continue;
        state_.selected = identity_of(*d);
        log_info(fmt("drive selected: disk {} {} ({})", d->number, drive_label(*d),
                     format_size(d->size)));
        if (state_.phase == AppPhase::ImageReady || state_.phase == AppPhase::DeviceReady)
            dispatch_event(AppEvent::of(EventKind::DeviceSelected));
        host_.invalidate();
        return;
    }
}

void WindowController::request_scan() {
    if (state_.scan_running || is_write_in_progress(state_.phase) || state_.drive_check_running) {
        // Served when the running scan, write or drive check ends.
        state_.rescan_requested = true;
        return;
    }
    state_.scan_running = true;
    ++state_.scans_started;
    std::optional<std::string> path;
    if (state_.image) path = state_.image->path;
    workers_.scan_drives(path);
}

void WindowController::start_write_on(const DeviceInfo& drive) {
    WriteChoice choice;
    choice.image = image_facts_of(*state_.image->inspection);
    choice.image_path = state_.image->path;
    choice.drive = drive;
    choice.verify = state_.prefs.verify;
    state_.failure.reset();
    state_.failure_details.reset();
    state_.summary.reset();
    state_.eject = EjectState::NotStarted;
    state_.details_expanded = false;
    auto handles = workers_.start_write(choice, state_.drives);
    if (!handles) {
        // The drive left the list between the confirmation and the start:
        // nothing was written; say so on the failure screen.
        state_.failure = JobError::of(JobError::Kind::IdentityChanged,
                                      "the chosen drive is no longer connected");
        dispatch_event(AppEvent::of(EventKind::Errored));
        return;
    }
    state_.write = std::move(*handles);
    state_.write_drive = drive;
    state_.write_verify = choice.verify;
    state_.highest_applied = WritePhase::Preparing;
    host_.block_shutdown(text(language_from_value(state_.lang), TextId::ProgressTitle));
    host_.keep_awake(true);
    host_.set_taskbar_state(TaskbarState::Indeterminate);
    state_.write_started_at = now();
    state_.shown_done = 0;
    state_.shown_total = 0;
    state_.shown_phase = WritePhase::Preparing;
    state_.shown_step = PrepareStep::Checking;
    state_.progress_seen = false;
    reset_rate(state_.write_rate, now());
    state_.rate_phase = WritePhase::Writing;
    state_.remaining_estimator = {};
    state_.remaining = {};
    update_animation_timer();
}

void WindowController::release_write() {
    state_.write.reset();
    state_.failure.reset();
    state_.failure_details.reset();
    state_.summary.reset();
    state_.drive_check.reset();
    state_.checked_drive.reset();
    state_.eject = EjectState::NotStarted;
    state_.details_expanded = false;
    state_.copied_at.reset();
    state_.complete_at.reset();
    state_.shown_done = 0;
    state_.shown_total = 0;
    state_.progress_seen = false;
    state_.remaining = {};
    host_.set_taskbar_state(TaskbarState::None);
}

void WindowController::apply_write_phases(WritePhase published) {
    if (published <= state_.highest_applied) return;
    for (int p = static_cast<int>(WritePhase::Writing); p <= static_cast<int>(published); ++p) {
        AppPhase old = state_.phase;
        auto next = transition(old, AppEvent::phase_entered(static_cast<WritePhase>(p)));
        if (!next || *next == old) continue;
        log_info(fmt("state {} -> {}", phase_name(old), phase_name(*next)));
        state_.phase = *next;
        on_phase_changed();
    }
    state_.highest_applied = published;
}

void WindowController::catch_up_and_complete() {
    for (WritePhase p : {WritePhase::Writing, WritePhase::Flushing, WritePhase::Verifying,
                         WritePhase::Finishing}) {
        if (auto next = transition(state_.phase, AppEvent::phase_entered(p))) state_.phase = *next;
    }
    dispatch_event(AppEvent::of(EventKind::Completed));
}

void WindowController::image_accepted() {
    state_.image->accepted = true;
    if (!dispatch_event(AppEvent::of(EventKind::ImageAccepted))) return;
    if (state_.selected) {
        // The image's size is known now: a drive that became too small for
        // it is no longer a choice.
        if (const DeviceInfo* d = selected_drive(state_)) {
            (void)d;
            dispatch_event(AppEvent::of(EventKind::DeviceSelected));
        } else {
            log_info(
                fmt("selected drive {} is gone or no longer writable", state_.selected->number));
            state_.selected.reset();
        }
    }
    if (!state_.selected) {
        auto offered = offered_drives(state_);
        if (offered.size() == 1) select_drive(offered.front()->number);
    }
    // The facts learned with the image decide whether a drive holds it; until
    // a scan started from now on answers, nothing may be written.
    state_.awaited_scan = state_.scans_started + 1;
    request_scan();
}

void WindowController::image_refused(const ValidationError& error) {
    Logger::write(LogLevel::Warn, fmt("image refused: {}", error.message()));
    state_.image.reset();
    state_.refused_image = error;
    dispatch_event(AppEvent::of(EventKind::ImageRefused));
}

void WindowController::on_inspected(ImageInspected& m) {
    if (m.request_number != state_.validation_request || !state_.image) return;
    if (!m.result) {
        image_refused(m.result.error());
        return;
    }
    state_.image->inspection = std::move(*m.result);
    if (!state_.image->inspection->is_signed()) image_accepted();
}

void WindowController::on_content_checked(ImageContentChecked& m) {
    if (m.request_number != state_.validation_request || !state_.image || !state_.image->inspection)
        return;
    if (!m.result) {
        image_refused(m.result.error());
        return;
    }
    image_accepted();
}

void WindowController::on_scan(DriveScanFinished& m) {
    state_.scan_running = false;
    state_.scanned = true;
    if (state_.awaited_scan && state_.scans_started >= *state_.awaited_scan)
        state_.awaited_scan.reset();
    state_.drives = std::move(m.scan.drives);
    state_.facts = std::move(m.scan.facts);
    log_info(fmt("scan: {} disks, usb [{}], facts {}", state_.drives.size(),
                 usb_numbers(state_.drives), debug_string(state_.facts)));
    if (!is_write_in_progress(state_.phase) && !state_.drive_check_running) {
        if (state_.selected && selected_drive(state_) == nullptr) {
            log_info(
                fmt("selected drive {} is gone or no longer writable", state_.selected->number));
            state_.selected.reset();
            if (state_.overlay == Overlay::EraseConfirm) close_overlay();
            if (state_.phase == AppPhase::DeviceReady || state_.phase == AppPhase::Confirming)
                dispatch_event(AppEvent::of(EventKind::DeviceCleared));
        }
        if (!state_.selected) {
            auto offered = offered_drives(state_);
            if (offered.size() == 1) select_drive(offered.front()->number);
        }
    }
    if (state_.rescan_requested) {
        state_.rescan_requested = false;
        request_scan();
    }
    host_.invalidate();
}

void WindowController::on_write_finished(WriteFinished& m) {
    host_.unblock_shutdown();
    host_.keep_awake(false);
    host_.set_taskbar_state(TaskbarState::None);
    if (!m.result) {
        JobError error = std::move(m.result.error());
        if (error.is_cancelled()) {
            if (dispatch_event(AppEvent::of(EventKind::Stopped))) return;
            // A stop that took effect while the drive was being finished:
            // the media is not complete, which is a failure, not a state to
            // stay in.
        }
        state_.failure = std::move(error);
        dispatch_event(AppEvent::of(EventKind::Errored));
        return;
    }
    const PipelineReport& report = m.result->pipeline;
    WriteSummary summary;
    summary.image_size = image_size(state_).value_or(0);
    summary.write_seconds = report.write_seconds;
    if (report.verified) summary.verify_seconds = report.verify_seconds;
    state_.summary = summary;
    catch_up_and_complete();
}

void WindowController::handle_message(UiMessage& message) {
    std::visit(
        [&](auto& m) {
            using T = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<T, ImageInspected>) {
                on_inspected(m);
            } else if constexpr (std::is_same_v<T, ImageContentChecked>) {
                on_content_checked(m);
            } else if constexpr (std::is_same_v<T, ReleaseInfoMessage>) {
                state_.release = std::move(m.release);
            } else if constexpr (std::is_same_v<T, DownloadFinishedMessage>) {
                state_.download_running = false;
                host_.set_taskbar_state(TaskbarState::None);
                if (m.result) {
                    dispatch_event(AppEvent::of(EventKind::DownloadFinished));
                    select_image(utf8_of(m.result->path), m.result->sha256);
                } else {
                    if (m.result.error().kind != DownloadError::Kind::Cancelled)
                        state_.download_error = m.result.error();
                    dispatch_event(AppEvent::of(EventKind::DownloadStopped));
                }
            } else if constexpr (std::is_same_v<T, UpdateNoticeMessage>) {
                state_.update = std::move(m);
            } else if constexpr (std::is_same_v<T, DriveScanFinished>) {
                on_scan(m);
            } else if constexpr (std::is_same_v<T, DriveCheckFinished>) {
                state_.drive_check = std::move(m.report);
                state_.drive_check_running = false;
                if (state_.rescan_requested) {
                    state_.rescan_requested = false;
                    request_scan();
                }
            } else if constexpr (std::is_same_v<T, EjectFinished>) {
                state_.eject = m.outcome ? EjectState::Ejected : EjectState::Failed;
            } else if constexpr (std::is_same_v<T, WriteEjectStarted>) {
                if (state_.write) state_.write->progress->set(0, 0, WritePhase::Finishing);
            } else if constexpr (std::is_same_v<T, WriteFinished>) {
                on_write_finished(m);
            }
        },
        message);
}

std::string WindowController::failure_details_text() const {
    if (!state_.failure) return {};
    FailureMessage f = failure_message(state_);
    auto log = Logger::current_file();
    return fmt("{}\n{}\n\n{}\n\nlog: {}", f.title, f.advice, f.details,
               log ? utf8_of(*log) : std::string());
}

void WindowController::apply_theme() {
    ThemeQueries queries = host_.theme_queries();
    state_.palette = compute_palette(state_.prefs.theme, queries);
    host_.set_frame(frame_colors(state_.palette, state_.backdrop));
    host_.invalidate();
}

void WindowController::save_settings() {
    save_preferences_to(state_.settings_file, state_.prefs.theme, state_.lang, state_.prefs.verify);
}

// --- Animations and timers --------------------------------------------------

bool WindowController::animation_needed() const {
    // Judged at the last frame drawn, not now: an animation that was still
    // moving in it needs its final frame, however late the frames come.
    const double t = state_.drawn_at;
    const AppPhase p = state_.phase;
    if (p == AppPhase::Downloading || p == AppPhase::ImageSelected ||
        p == AppPhase::ValidatingImage || is_write_in_progress(p))
        return true;
    if (state_.drive_check_running || state_.eject == EjectState::Running) return true;
    if (state_.screen_fade.running(t) || state_.overlay_fade.running(t) ||
        state_.switch_anim.running(t))
        return true;
    for (const auto& h : state_.hovers)
        if (h.fade.running(t)) return true;
    if (p == AppPhase::Complete && state_.complete_at &&
        t - *state_.complete_at < kCompleteAnimation)
        return true;
    if (state_.copied_at && t - *state_.copied_at < kCopiedMark) return true;
    return false;
}

void WindowController::update_animation_timer() {
    bool need = animation_needed();
    if (need && !state_.animation_timer) {
        host_.set_timer(TimerId::Animation, kAnimationPeriodMs);
        state_.animation_timer = true;
    } else if (!need && state_.animation_timer) {
        host_.kill_timer(TimerId::Animation);
        state_.animation_timer = false;
    }
}

void WindowController::animation_tick() {
    const double t = now();
    if (is_write_in_progress(state_.phase) && state_.write) {
        const WriteProgress& progress = *state_.write->progress;
        apply_write_phases(progress.read_phase());
        WritePhase phase = progress.read_phase();
        uint64_t done = progress.done.load(std::memory_order_relaxed);
        uint64_t total = progress.total.load(std::memory_order_relaxed);
        state_.shown_phase = phase;
        state_.shown_step = progress.read_step();
        state_.shown_done = done;
        state_.shown_total = total;
        if (total > 0 && (phase == WritePhase::Writing || phase == WritePhase::Verifying)) {
            state_.progress_seen = true;
            if (phase != state_.rate_phase) {
                // The counter starts again with each phase: the rate goes on
                // from the new origin instead of seeing the count fall.
                state_.write_rate.last_bytes = done;
                state_.write_rate.last_time = t;
                state_.rate_phase = phase;
            }
            rate_sample(state_.write_rate, t, done);
            uint64_t left = total - std::min(done, total);
            if (phase == WritePhase::Writing && state_.write_verify) left += total;
            std::optional<double> rate;
            if (state_.write_rate.has_value) rate = state_.write_rate.rate;
            state_.remaining = time_remaining(state_.remaining_estimator, t, left, rate);
        } else if (state_.remaining_estimator.has_value) {
            state_.remaining = time_remaining(state_.remaining_estimator, t, 0, std::nullopt);
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
    if (state_.download_running)
        rate_sample(state_.download_rate, t, state_.download_progress->done.load());
    // Hover fades that have faded out are forgotten.
    std::erase_if(state_.hovers, [&](const HoverFade& h) {
        return !h.fade.running(t) && h.fade.to == 0 && !(h.id == state_.hovered);
    });
    host_.invalidate();
}

void WindowController::set_hovered(ElementId id) {
    if (id == state_.hovered) return;
    const double t = now();
    auto fade_to = [&](ElementId e, float target, double duration) {
        if (e.is_none()) return;
        for (auto& h : state_.hovers) {
            if (h.id == e) {
                h.fade = Animation::run(t, duration, h.fade.value(t), target);
                return;
            }
        }
        state_.hovers.push_back({e, Animation::run(t, duration, 0, target)});
    };
    fade_to(state_.hovered, 0, kHoverOut);
    fade_to(id, 1, kHoverIn);
    state_.hovered = id;
    host_.invalidate();
    update_animation_timer();
}

// --- Window messages --------------------------------------------------------

const HitRegion* WindowController::hit_test(float x, float y) const {
    for (auto it = state_.regions.rbegin(); it != state_.regions.rend(); ++it)
        if (it->rect.contains(x, y)) return &*it;
    return nullptr;
}

// Called with the guard released, as the handler's last step: the window,
// and this controller with it, may be gone when the host returns.
void WindowController::carry_out(const Effect& effect) {
    switch (effect.kind) {
        case Effect::Nothing:
            break;
        case Effect::OpenPicker:
            host_.open_picker(text(language_from_value(state_.lang), TextId::IsoFileFilter));
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
}

void WindowController::reveal(ElementId id) {
    constexpr float kMargin = 8;
    for (const HitRegion& r : state_.regions) {
        if (!(r.id == id) || r.id.param != id.param) continue;
        if (r.rect == r.whole) return;  // wholly in sight
        const Rect& view = state_.viewport;
        float shift = 0;
        if (r.whole.y < view.y) shift = r.whole.y - view.y - kMargin;
        if (r.whole.bottom() > view.bottom()) shift = r.whole.bottom() - view.bottom() + kMargin;
        state_.scroll = std::clamp(state_.scroll + shift, 0.0f, state_.scroll_limit);
        host_.invalidate();
        return;
    }
}

bool WindowController::ready_to_paint() {
    if (busy_) paint_put_off_ = true;
    return !busy_;
}

void WindowController::paint(Canvas& canvas, std::optional<uint64_t> ms_since_process_start) {
    if (!ready_to_paint()) return;
    Guard guard(*this);
    const double t = now();
    build_frame(state_, canvas, t);
    state_.drawn_at = t;
    state_.scroll = std::min(state_.scroll, state_.scroll_limit);
    if (!state_.first_frame_logged) {
        state_.first_frame_logged = true;
        log_info(fmt("first frame {} ms after process start", ms_since_process_start.value_or(0)));
    }
    update_animation_timer();
}

void WindowController::size(uint32_t width, uint32_t height) {
    state_.client_width = width;
    state_.client_height = height;
}

void WindowController::dpi_changed(uint32_t dpi) {
    Guard guard(*this);
    if (!guard.entered()) return;
    state_.dpi = std::max<uint32_t>(dpi, 96);
    host_.invalidate();
}

void WindowController::settings_changed() {
    Guard guard(*this);
    if (!guard.entered()) return;
    apply_theme();
}

void WindowController::mouse_move(int x, int y) {
    Guard guard(*this);
    if (!guard.entered()) return;
    if (!state_.tracking_leave) {
        host_.track_pointer_leave();
        state_.tracking_leave = true;
    }
    const HitRegion* hit = hit_test(to_dip(x), to_dip(y));
    set_hovered(hit ? hit->id : ElementId{});
}

void WindowController::mouse_leave() {
    Guard guard(*this);
    if (!guard.entered()) return;
    set_hovered({});
    state_.tracking_leave = false;
}

void WindowController::button_down(int x, int y) {
    Guard guard(*this);
    if (!guard.entered()) return;
    host_.capture_pointer();
    state_.focus_visible = false;
    const HitRegion* hit = hit_test(to_dip(x), to_dip(y));
    state_.pressed = hit && hit->enabled ? hit->id : ElementId{};
    if (!hit && state_.overlay == Overlay::Appearance) close_overlay();
    host_.invalidate();
}

void WindowController::button_up(int x, int y) {
    Guard guard(*this);
    if (!guard.entered()) return;
    host_.release_pointer();
    ElementId pressed = state_.pressed;
    state_.pressed = {};
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
    state_.scroll = std::clamp(state_.scroll + static_cast<float>(delta) / 120.0f * -kWheelStep,
                               0.0f, std::max(0.0f, state_.scroll_limit));
    host_.invalidate();
}

void WindowController::set_cursor() {
    bool hand = false;
    for (const auto& r : state_.regions)
        if (r.enabled && r.id == state_.hovered && !state_.hovered.is_none()) hand = true;
    host_.set_cursor(hand ? CursorKind::Hand : CursorKind::Arrow);
}

void WindowController::key_down(Key key, bool shift) {
    Guard guard(*this);
    if (!guard.entered()) return;
    std::vector<ElementId> enabled;
    for (const auto& r : state_.regions) {
        if (!r.enabled) continue;
        bool seen = false;
        for (const auto& e : enabled)
            seen = seen || (e == r.id && e.param == r.id.param);
        if (!seen) enabled.push_back(r.id);
    }
    auto index_of = [&](ElementId id) -> std::optional<size_t> {
        for (size_t i = 0; i < enabled.size(); ++i)
            if (enabled[i] == id && enabled[i].param == id.param) return i;
        return std::nullopt;
    };
    switch (key) {
        case Key::Tab: {
            if (enabled.empty()) return;
            auto at = index_of(state_.focus);
            size_t n = enabled.size();
            size_t next = !at ? (shift ? n - 1 : 0) : (shift ? (*at + n - 1) % n : (*at + 1) % n);
            state_.focus = enabled[next];
            state_.focus_visible = true;
            reveal(state_.focus);
            host_.invalidate();
            return;
        }
        case Key::Enter:
        case Key::Space: {
            if (state_.focus.is_none() || !index_of(state_.focus)) return;
            Effect effect = perform_action(state_.focus);
            guard.release();
            carry_out(effect);
            return;
        }
        case Key::Escape:
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
                    close_overlay();
                    return;
                case Overlay::DriveCheck:
                    if (!state_.drive_check_running) close_overlay();
                    return;
            }
            return;
        case Key::Up:
        case Key::Down: {
            auto offered = offered_drives(state_);
            if (state_.overlay != Overlay::None || state_.phase >= AppPhase::Preparing ||
                offered.empty())
                return;
            const DeviceInfo* current = selected_drive(state_);
            size_t n = offered.size();
            size_t pick = 0;
            for (size_t i = 0; i < n && current; ++i) {
                if (offered[i] == current) pick = key == Key::Up ? (i + n - 1) % n : (i + 1) % n;
            }
            uint32_t number = offered[pick]->number;
            select_drive(number);
            state_.focus = {UiAction::SelectDrive, number};
            state_.focus_visible = true;
            reveal(state_.focus);
            host_.invalidate();
            return;
        }
        case Key::Other:
            return;
    }
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

void WindowController::worker_wake() {
    Guard guard(*this);
    if (!guard.entered()) {
        wake_put_off_ = true;  // the queue is drained when the running handler ends
        return;
    }
    for (UiMessage& m : queue_->drain())
        handle_message(m);
    update_animation_timer();
    host_.invalidate();
}

void WindowController::picker_result(const std::optional<std::string>& path) {
    Guard guard(*this);
    if (!guard.entered()) return;
    if (!path || !is_setup_idle(state_.phase)) return;
    select_image(*path, std::nullopt);
}

void WindowController::close() {
    Guard guard(*this);
    if (!guard.entered()) return;
    if (state_.drive_check_running) return;
    if (is_write_in_progress(state_.phase)) {
        open_overlay(Overlay::CloseRefused);
        return;
    }
    state_.validation_cancel->store(true);
    state_.download_stop->store(true);
    guard.release();
    carry_out({Effect::CloseWindow, {}});
}

bool WindowController::query_end_session() const {
    return !is_write_in_progress(state_.phase);
}

void WindowController::destroy() {
    queue_->clear_waker();
    if (state_.animation_timer) host_.kill_timer(TimerId::Animation);
    state_.animation_timer = false;
}

}  // namespace sw
