#include <type_traits>
#include <utility>

#include "core/paths.h"
#include "i18n/format.h"
#include "logging/logger.h"
#include "ui/controller.h"

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

void WindowController::handle_message(UiMessage& message) {
    std::visit(
        [&](auto& m) {
            using T = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<T, ImageInspected>) {
                on_inspected(m);
            } else if constexpr (std::is_same_v<T, ImageContentChecked>) {
                on_content_checked(m);
            } else if constexpr (std::is_same_v<T, ReleaseInfoMessage>) {
                state_.download.release = std::move(m.release);
            } else if constexpr (std::is_same_v<T, DownloadFinishedMessage>) {
                state_.download.running = false;
                host_.set_taskbar_state(TaskbarState::None);
                if (m.result) {
                    dispatch_event(AppEvent::of(EventKind::DownloadFinished));
                    select_image(utf8_of(m.result->path), m.result->sha256);
                } else {
                    if (m.result.error().kind != DownloadError::Kind::Cancelled)
                        state_.download.error = m.result.error();
                    dispatch_event(AppEvent::of(EventKind::DownloadStopped));
                }
            } else if constexpr (std::is_same_v<T, UpdateNoticeMessage>) {
                state_.download.update = std::move(m);
            } else if constexpr (std::is_same_v<T, DriveScanFinished>) {
                on_scan(m);
            } else if constexpr (std::is_same_v<T, DriveCheckFinished>) {
                state_.drive_check.report = std::move(m.report);
                state_.drive_check.running = false;
                if (state_.drives.rescan_requested) {
                    state_.drives.rescan_requested = false;
                    request_scan();
                }
            } else if constexpr (std::is_same_v<T, EjectFinished>) {
                state_.write.eject = m.outcome ? EjectState::Ejected : EjectState::Failed;
            } else if constexpr (std::is_same_v<T, WriteEjectStarted>) {
                if (state_.write.handles)
                    state_.write.handles->progress->set(0, 0, WritePhase::Finishing);
            } else if constexpr (std::is_same_v<T, WriteFinished>) {
                on_write_finished(m);
            } else if constexpr (std::is_same_v<T, RestoreFinished>) {
                on_restore_finished(m);
            }
        },
        message);
}

void WindowController::on_inspected(ImageInspected& m) {
    if (m.request_number != state_.image.request || !state_.image.chosen) return;
    if (!m.result) {
        image_refused(m.result.error());
        return;
    }
    state_.image.chosen->inspection = std::move(*m.result);
    if (!state_.image.chosen->inspection->is_signed()) image_accepted();
}

void WindowController::on_content_checked(ImageContentChecked& m) {
    if (m.request_number != state_.image.request || !state_.image.chosen ||
        !state_.image.chosen->inspection)
        return;
    if (!m.result) {
        image_refused(m.result.error());
        return;
    }
    image_accepted();
}

void WindowController::image_accepted() {
    state_.image.chosen->accepted = true;
    if (!dispatch_event(AppEvent::of(EventKind::ImageAccepted))) return;
    if (state_.drives.selected) {
        // The image's size is known now: a drive that became too small for
        // it is no longer a choice.
        if (const DeviceInfo* d = selected_drive(state_)) {
            (void)d;
            dispatch_event(AppEvent::of(EventKind::DeviceSelected));
        } else {
            log_info(fmt("selected drive {} is gone or no longer writable",
                         state_.drives.selected->number));
            state_.drives.selected.reset();
        }
    }
    if (!state_.drives.selected) {
        auto offered = offered_drives(state_);
        if (offered.size() == 1) select_drive(offered.front()->number);
    }
    // The facts learned with the image decide whether a drive holds it; until
    // a scan started from now on answers, nothing may be written.
    state_.drives.awaited_scan = state_.drives.scans_started + 1;
    request_scan();
}

void WindowController::image_refused(const ValidationError& error) {
    Logger::write(LogLevel::Warn, fmt("image refused: {}", error.message()));
    state_.image.chosen.reset();
    state_.image.refused = error;
    dispatch_event(AppEvent::of(EventKind::ImageRefused));
}

void WindowController::on_scan(DriveScanFinished& m) {
    state_.drives.scan_running = false;
    state_.drives.scanned = true;
    if (state_.drives.awaited_scan && state_.drives.scans_started >= *state_.drives.awaited_scan)
        state_.drives.awaited_scan.reset();
    state_.drives.list = std::move(m.scan.drives);
    state_.drives.facts = std::move(m.scan.facts);
    log_info(fmt("scan: {} disks, usb [{}], facts {}", state_.drives.list.size(),
                 usb_numbers(state_.drives.list), debug_string(state_.drives.facts)));
    if (!is_write_in_progress(state_.phase) && !state_.drive_check.running) {
        if (state_.drives.selected && selected_drive(state_) == nullptr) {
            log_info(fmt("selected drive {} is gone or no longer writable",
                         state_.drives.selected->number));
            state_.drives.selected.reset();
            if (state_.overlay == Overlay::EraseConfirm ||
                state_.overlay == Overlay::RestoreConfirm)
                close_overlay();
            if (state_.phase == AppPhase::DeviceReady || state_.phase == AppPhase::Confirming)
                dispatch_event(AppEvent::of(EventKind::DeviceCleared));
        }
        if (!state_.drives.selected) {
            auto offered = offered_drives(state_);
            if (offered.size() == 1) select_drive(offered.front()->number);
        }
    }
    if (state_.drives.rescan_requested) {
        state_.drives.rescan_requested = false;
        request_scan();
    }
    host_.invalidate();
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

}  // namespace sw
