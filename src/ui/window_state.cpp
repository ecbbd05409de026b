#include "ui/window_state.h"

#include <algorithm>

#include "i18n/strings.h"

namespace sw {

std::optional<uint64_t> image_size(const WindowState& s) {
    if (s.image.chosen && s.image.chosen->inspection) return s.image.chosen->inspection->image_size;
    return std::nullopt;
}

std::vector<std::pair<const DeviceInfo*, std::vector<Refusal>>> listed_drives(
    const WindowState& s) {
    std::vector<std::pair<const DeviceInfo*, std::vector<Refusal>>> out;
    const auto size = image_size(s);
    for (const auto& d : s.drives.list) {
        if (d.bus.kind != BusKind::Usb) continue;
        out.emplace_back(&d, refusals_for(d, s.drives.facts, size));
    }
    return out;
}

std::vector<const DeviceInfo*> offered_drives(const WindowState& s) {
    std::vector<const DeviceInfo*> out;
    for (auto& [drive, refusals] : listed_drives(s))
        if (refusals.empty()) out.push_back(drive);
    return out;
}

const DeviceInfo* selected_drive(const WindowState& s) {
    if (!s.drives.selected) return nullptr;
    for (const DeviceInfo* d : offered_drives(s))
        if (identity_of(*d) == *s.drives.selected) return d;
    return nullptr;
}

bool action_enabled(const WindowState& s, ElementId action) {
    switch (action.kind) {
        case UiAction::SelectImage:
        case UiAction::DownloadLatest:
            return is_setup_idle(s.phase);
        case UiAction::Create:
            return s.phase == AppPhase::DeviceReady && !s.drives.awaited_scan;
        case UiAction::StopWrite:
            return s.phase == AppPhase::Preparing || s.phase == AppPhase::Writing ||
                   s.phase == AppPhase::Verifying;
        case UiAction::CopyDetails:
            return s.write.failure.has_value();
        case UiAction::OpenUpdate:
            return s.download.update.has_value();
        case UiAction::RestoreDrive:
            // As a write to the drive, less what concerns an image: a drive
            // the scan refuses is never selected.
            return is_setup_idle(s.phase) && s.overlay == Overlay::None && !s.drive_check.running &&
                   selected_drive(s) != nullptr;
        case UiAction::CheckDrive:
            return is_setup_idle(s.phase) && s.overlay == Overlay::None &&
                   selected_drive(s) != nullptr;
        case UiAction::ToggleVerify:
            return s.phase <= AppPhase::Confirming && s.overlay == Overlay::None;
        case UiAction::Eject:
            return s.phase == AppPhase::Complete && s.write.eject == EjectState::NotStarted;
        case UiAction::CloseDriveCheck:
            return !s.drive_check.running;
        case UiAction::None:
            return false;
        default:
            return true;
    }
}

FailureMessage failure_message(const WindowState& s) {
    if (!s.write.failure) return {};
    FailureMessage m = job_failure_message(
        string_table(language_from_value(s.appearance.prefs.lang)), *s.write.failure);
    if (s.write.failure_details) m.details = *s.write.failure_details;
    return m;
}

std::optional<TextId> phase_heading(const WindowState& s) {
    const bool restore = s.write.restore;
    switch (s.phase) {
        case AppPhase::Preparing:
            return TextId::PhasePreparing;
        case AppPhase::Writing:
            return restore ? TextId::RestorePhaseWriting : TextId::PhaseWriting;
        case AppPhase::Flushing:
            return TextId::PhaseFlushing;
        case AppPhase::Verifying:
            return restore ? TextId::RestorePhaseVerifying : TextId::PhaseVerifying;
        case AppPhase::Ejecting:
            return restore ? TextId::RestorePhaseFinishing : TextId::PhaseEjecting;
        case AppPhase::Complete:
            return restore ? TextId::RestoreCompleteTitle : TextId::CompleteTitle;
        case AppPhase::Cancelled:
            return restore ? TextId::RestoreCancelledTitle : TextId::CancelledTitle;
        default:
            return std::nullopt;
    }
}

float hover_value(const WindowState& s, ElementId id, double now) {
    for (const auto& h : s.animations.hovers)
        if (h.id == id) return h.fade.value(now);
    return 0;
}

}  // namespace sw
