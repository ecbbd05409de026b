#include <algorithm>

#include "core/paths.h"
#include "core/text.h"
#include "i18n/format.h"
#include "logging/logger.h"
#include "core/system.h"
#include "ui/controller.h"

namespace sw {

namespace {

void log_info(std::string_view line) {
    Logger::write(LogLevel::Info, line);
}

}  // namespace

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
        if (!state_.last_frame.screen_picture.empty())
            state_.last_frame.outgoing_picture = std::move(state_.last_frame.screen_picture);
        state_.last_frame.screen_picture.clear();
        state_.animations.screen_fade = Animation::run(now(), motion(kScreenFade), 0, 1);
        // Without animations the mark is drawn whole from the start.
        if (screen == ScreenKind::Complete && state_.appearance.animate)
            state_.write.complete_at = now();
        set_hovered({});
        state_.input.focus = {};
        state_.geometry.scroll = 0;
    }
    update_animation_timer();
}

void WindowController::open_overlay(Overlay overlay) {
    state_.overlay = overlay;
    state_.animations.overlay_fade = Animation::run(now(), motion(kOverlayFade), 0, 1);
    switch (overlay) {
        case Overlay::EraseConfirm:
            state_.input.focus = {UiAction::DismissErase};
            break;
        case Overlay::StopConfirm:
            state_.input.focus = {UiAction::DismissOverlay};
            break;
        case Overlay::CloseRefused:
            state_.input.focus = {UiAction::ClosePanel};
            break;
        case Overlay::DriveCheck:
            state_.input.focus = {UiAction::CloseDriveCheck};
            break;
        case Overlay::RestoreConfirm:
            state_.input.focus = {UiAction::DismissRestore};
            break;
        case Overlay::None:
        case Overlay::Appearance:
            state_.input.focus = {};
            break;
    }
    host_.invalidate();
    update_animation_timer();
}

void WindowController::close_overlay() {
    state_.overlay = Overlay::None;
    state_.input.focus = {};
    host_.invalidate();
    update_animation_timer();
}

Effect WindowController::perform_action(ElementId action) {
    if (!action_enabled(state_, action)) return {};
    switch (action.kind) {
        case UiAction::TogglePanel:
            toggle_panel();
            return {};
        case UiAction::SelectImage:
            return {Effect::OpenPicker, {}};
        case UiAction::DownloadLatest:
            start_download();
            return {};
        case UiAction::StopDownload:
            state_.download.stop->store(true);
            return {};
        case UiAction::SelectDrive:
            select_drive(action.param);
            return {};
        case UiAction::Create:
        case UiAction::DismissErase:
        case UiAction::AcceptErase:
        case UiAction::StopWrite:
        case UiAction::ConfirmStop:
        case UiAction::Done:
        case UiAction::TryAgain:
        case UiAction::Eject:
            write_action(action.kind);
            return {};
        case UiAction::DismissOverlay:
        case UiAction::ClosePanel:
        case UiAction::CloseDriveCheck:
            close_overlay();
            return {};
        case UiAction::OpenLogFolder:
            close_overlay();
            if (state_.log_folder) return {Effect::OpenFolder, utf8_of(*state_.log_folder)};
            return {};
        case UiAction::OpenUpdate:
            if (starts_with_ascii_ci(state_.download.update->url, "https://"))
                return {Effect::OpenUrl, state_.download.update->url};
            return {};
        case UiAction::ToggleDetails:
        case UiAction::CopyDetails:
        case UiAction::SetTheme:
        case UiAction::SetLanguage:
        case UiAction::ToggleVerify:
            setting_action(action);
            return {};
        case UiAction::CheckDrive:
            check_drive();
            return {};
        case UiAction::RestoreDrive:
        case UiAction::DismissRestore:
        case UiAction::AcceptRestore:
            restore_action(action.kind);
            return {};
        case UiAction::None:
            return {};
    }
    return {};
}

void WindowController::toggle_panel() {
    if (state_.overlay == Overlay::None) {
        open_overlay(Overlay::Appearance);
    } else if (state_.overlay == Overlay::Appearance) {
        close_overlay();
    }
}

// The user's Downloads folder: the one the system names, else the one in the
// user's profile (read as UTF-16 on Windows: a user name outside the ANSI
// code page would not survive the narrow environment).
std::optional<std::filesystem::path> WindowController::downloads_folder() {
    if (std::optional<std::filesystem::path> folder = host_.downloads_folder()) return folder;
    std::optional<std::string> profile = platform::env_var("USERPROFILE");
    if (profile && !profile->empty()) return path_from_utf8(*profile) / "Downloads";
    return std::nullopt;
}

void WindowController::start_download() {
    std::optional<std::filesystem::path> folder = downloads_folder();
    if (!folder) {
        Logger::write(LogLevel::Warn, "download: no Downloads folder");
        return;
    }
    state_.download.progress->reset();
    state_.download.error.reset();
    state_.image.refused.reset();
    if (!dispatch_event(AppEvent::of(EventKind::DownloadStarted))) return;
    state_.download.stop = std::make_shared<std::atomic<bool>>(false);
    state_.download.running = true;
    reset_rate(state_.download.rate, now());
    workers_.download(*folder, state_.download.progress, state_.download.stop);
    host_.set_taskbar_state(TaskbarState::Indeterminate);
    update_animation_timer();
}

// The actions of the write: its confirmation, its stop and its end.
void WindowController::write_action(UiAction action) {
    switch (action) {
        case UiAction::Create:
            if (dispatch_event(AppEvent::of(EventKind::CreatePressed)))
                open_overlay(Overlay::EraseConfirm);
            return;
        case UiAction::DismissErase:
            close_overlay();
            dispatch_event(AppEvent::of(EventKind::ConfirmDismissed));
            return;
        case UiAction::AcceptErase:
            accept_erase();
            return;
        case UiAction::StopWrite:
            open_overlay(Overlay::StopConfirm);
            return;
        case UiAction::ConfirmStop:
            close_overlay();
            log_info("operator stopped the write");
            if (state_.write.handles) workers_.stop_write(*state_.write.handles);
            return;
        case UiAction::Done:
        case UiAction::TryAgain:
            end_write_screen();
            return;
        case UiAction::Eject:
            if (!state_.write.drive) return;
            state_.write.eject = EjectState::Running;
            workers_.eject(*state_.write.drive);
            host_.invalidate();
            update_animation_timer();
            return;
        default:
            return;
    }
}

void WindowController::accept_erase() {
    close_overlay();
    const DeviceInfo* drive = selected_drive(state_);
    if (drive == nullptr || !state_.image.chosen || !state_.image.chosen->inspection) {
        dispatch_event(AppEvent::of(EventKind::ConfirmDismissed));
        return;
    }
    DeviceInfo chosen = *drive;
    if (dispatch_event(AppEvent::of(EventKind::ConfirmAccepted))) start_write_on(chosen);
}

// Back from an end screen to the setup, with the image chosen before.
void WindowController::end_write_screen() {
    release_write();
    dispatch_event(AppEvent::of(EventKind::Reset));
    if (state_.image.chosen && state_.phase == AppPhase::Idle) {
        SelectedImage again = *state_.image.chosen;
        select_image(again.path, again.download_digest);
    }
    request_scan();
}

// The actions that change what is shown or kept, not what is done.
void WindowController::setting_action(ElementId action) {
    switch (action.kind) {
        case UiAction::ToggleDetails:
            state_.write.details_expanded = !state_.write.details_expanded;
            host_.invalidate();
            return;
        case UiAction::CopyDetails:
            host_.set_clipboard_text(failure_details_text());
            state_.write.copied_at = now();
            host_.invalidate();
            update_animation_timer();
            return;
        case UiAction::SetTheme:
            state_.appearance.prefs.theme = static_cast<Theme>(std::min<uint32_t>(action.param, 2));
            save_settings();
            apply_theme();
            return;
        case UiAction::SetLanguage:
            state_.appearance.prefs.lang =
                static_cast<uint8_t>(std::min<uint32_t>(action.param, 2));
            save_settings();
            host_.invalidate();
            return;
        case UiAction::ToggleVerify: {
            float from = state_.animations.switch_anim.value(now());
            state_.appearance.prefs.verify = !state_.appearance.prefs.verify;
            save_settings();
            state_.animations.switch_anim =
                Animation::run(now(), motion(kSwitchAnimation), from,
                               state_.appearance.prefs.verify ? 1.0f : 0.0f);
            host_.invalidate();
            update_animation_timer();
            return;
        }
        default:
            return;
    }
}

void WindowController::check_drive() {
    const DeviceInfo* drive = selected_drive(state_);
    if (drive == nullptr) return;
    state_.drive_check.running = true;
    state_.drive_check.drive = *drive;
    state_.drive_check.report.reset();
    workers_.check_drive(*drive);
    open_overlay(Overlay::DriveCheck);
}

// The restore of the chosen drive: its confirmation, then the job, which
// runs through the write's phases and screens.
void WindowController::restore_action(UiAction action) {
    switch (action) {
        case UiAction::RestoreDrive:
            open_overlay(Overlay::RestoreConfirm);
            return;
        case UiAction::DismissRestore:
            close_overlay();
            return;
        case UiAction::AcceptRestore:
            accept_restore();
            return;
        default:
            return;
    }
}

void WindowController::accept_restore() {
    close_overlay();
    const DeviceInfo* drive = selected_drive(state_);
    if (drive == nullptr) return;
    DeviceInfo chosen = *drive;
    log_info(fmt("restore confirmed: disk {} {}", chosen.number, drive_label(chosen)));
    if (dispatch_event(AppEvent::of(EventKind::RestoreAccepted))) start_restore_on(chosen);
}

void WindowController::select_image(const std::string& path,
                                    std::optional<Sha256Digest> download_digest) {
    log_info(fmt("image picked: {}", path));
    state_.image.cancel->store(true);
    state_.image.cancel = std::make_shared<std::atomic<bool>>(false);
    state_.image.progress = std::make_shared<ValidationProgress>();
    ++state_.image.request;
    state_.image.chosen = SelectedImage{path, download_digest, std::nullopt, false};
    // The card tells what happened last.
    state_.image.refused.reset();
    state_.download.error.reset();
    if (state_.phase != AppPhase::ImageSelected)
        dispatch_event(AppEvent::of(EventKind::ImagePicked));
    dispatch_event(AppEvent::of(EventKind::ValidationStarted));
    ValidationRequest request{path, state_.image.request, download_digest};
    workers_.validate(std::move(request), state_.image.progress, state_.image.cancel);
    update_animation_timer();
}

void WindowController::select_drive(uint32_t number) {
    if (state_.phase > AppPhase::Confirming || state_.overlay == Overlay::EraseConfirm ||
        state_.overlay == Overlay::RestoreConfirm)
        return;
    for (const DeviceInfo* d : offered_drives(state_)) {
        if (d->number != number) continue;
        state_.drives.selected = identity_of(*d);
        log_info(fmt("drive selected: disk {} {} ({})", d->number, drive_label(*d),
                     format_size(d->size)));
        if (state_.phase == AppPhase::ImageReady || state_.phase == AppPhase::DeviceReady)
            dispatch_event(AppEvent::of(EventKind::DeviceSelected));
        host_.invalidate();
        return;
    }
}

void WindowController::request_scan() {
    if (state_.drives.scan_running || is_write_in_progress(state_.phase) ||
        state_.drive_check.running) {
        // Served when the running scan, write or drive check ends.
        state_.drives.rescan_requested = true;
        return;
    }
    state_.drives.scan_running = true;
    ++state_.drives.scans_started;
    std::optional<std::string> path;
    if (state_.image.chosen) path = state_.image.chosen->path;
    workers_.scan_drives(path);
}

}  // namespace sw
