#include "ui/app_state.h"

#include <array>

namespace sw {

namespace {

constexpr std::array<std::string_view, kPhaseCount> kPhaseNames = {
    "Idle",        "Downloading", "ImageSelected", "ValidatingImage", "ImageReady",
    "DeviceReady", "Confirming",  "Preparing",     "Writing",         "Flushing",
    "Verifying",   "Ejecting",    "Complete",      "Cancelled",       "Failed",
};

constexpr std::array<std::string_view, kEventKindCount> kEventNames = {
    "ImagePicked",       "DownloadStarted", "DownloadFinished", "DownloadStopped",
    "ValidationStarted", "ImageAccepted",   "ImageRefused",     "DeviceSelected",
    "DeviceCleared",     "CreatePressed",   "ConfirmAccepted",  "ConfirmDismissed",
    "PhaseEntered",      "EjectStarted",    "Completed",        "Stopped",
    "Errored",           "Reset",           "RestoreAccepted",
};

constexpr std::array<std::string_view, 28> kActionNames = {
    "TogglePanel",  "SelectImage",    "DownloadLatest", "StopDownload",    "SelectDrive",
    "Create",       "DismissErase",   "AcceptErase",    "StopWrite",       "DismissOverlay",
    "ConfirmStop",  "Done",           "TryAgain",       "ToggleDetails",   "CopyDetails",
    "SetTheme",     "SetLanguage",    "OpenUpdate",     "ClosePanel",      "OpenLogFolder",
    "CheckDrive",   "ToggleVerify",   "Eject",          "CloseDriveCheck", "None",
    "RestoreDrive", "DismissRestore", "AcceptRestore",
};

constexpr uint8_t kPhaseEnteredSlot = static_cast<uint8_t>(EventKind::PhaseEntered);

}  // namespace

std::string_view phase_name(AppPhase phase) {
    auto i = static_cast<size_t>(phase);
    return i < kPhaseNames.size() ? kPhaseNames[i] : "?";
}

bool is_write_in_progress(AppPhase phase) {
    return phase >= AppPhase::Preparing && phase <= AppPhase::Ejecting;
}

bool is_setup_idle(AppPhase phase) {
    return phase == AppPhase::Idle || phase == AppPhase::ImageReady ||
           phase == AppPhase::DeviceReady;
}

uint8_t encode_event(AppEvent event) {
    if (event.kind == EventKind::PhaseEntered) return static_cast<uint8_t>(event.write_phase);
    return static_cast<uint8_t>(5 + static_cast<uint8_t>(event.kind));
}

std::optional<AppEvent> decode_event(uint8_t value) {
    if (value <= 4) return AppEvent::phase_entered(static_cast<WritePhase>(value));
    const uint8_t k = value - 5;
    // PhaseEntered's own slot (17) stays unused: it is encoded as 0–4.
    if (k == kPhaseEnteredSlot || k >= kEventKindCount) return std::nullopt;
    return AppEvent::of(static_cast<EventKind>(k));
}

std::string event_name(AppEvent event) {
    std::string name(kEventNames[static_cast<size_t>(event.kind)]);
    if (event.kind == EventKind::PhaseEntered) {
        name += '(';
        name += phase_name(event.write_phase);
        name += ')';
    }
    return name;
}

std::optional<AppPhase> transition(AppPhase from, AppEvent event) {
    using P = AppPhase;
    using E = EventKind;
    const bool early = from == P::Idle || from == P::Downloading || from == P::ImageSelected ||
                       from == P::ValidatingImage || from == P::ImageReady;
    switch (event.kind) {
        case E::ImagePicked:
            if (from == P::Idle || from == P::ImageReady || from == P::DeviceReady)
                return P::ImageSelected;
            return std::nullopt;
        case E::DownloadStarted:
            if (from == P::Idle || from == P::ImageReady || from == P::DeviceReady)
                return P::Downloading;
            return std::nullopt;
        case E::DownloadFinished:
            if (from == P::Downloading) return P::ImageSelected;
            return std::nullopt;
        case E::DownloadStopped:
            if (from == P::Downloading) return P::Idle;
            return std::nullopt;
        case E::ValidationStarted:
            if (from == P::ImageSelected) return P::ValidatingImage;
            return std::nullopt;
        case E::ImageAccepted:
            if (from == P::ValidatingImage) return P::ImageReady;
            return std::nullopt;
        case E::ImageRefused:
            if (from == P::ImageSelected || from == P::ValidatingImage) return P::Idle;
            return std::nullopt;
        case E::DeviceSelected:
            if (from == P::ImageReady || from == P::DeviceReady) return P::DeviceReady;
            if (early) return from;
            return std::nullopt;
        case E::DeviceCleared:
            if (from == P::DeviceReady || from == P::Confirming) return P::ImageReady;
            if (early) return from;
            return std::nullopt;
        case E::CreatePressed:
            if (from == P::DeviceReady) return P::Confirming;
            return std::nullopt;
        case E::ConfirmAccepted:
            if (from == P::Confirming) return P::Preparing;
            return std::nullopt;
        case E::ConfirmDismissed:
            if (from == P::Confirming) return P::DeviceReady;
            return std::nullopt;
        case E::PhaseEntered:
            switch (event.write_phase) {
                case WritePhase::Preparing:
                    if (from == P::Preparing) return P::Preparing;
                    return std::nullopt;
                case WritePhase::Writing:
                    if (from == P::Preparing || from == P::Writing) return P::Writing;
                    return std::nullopt;
                case WritePhase::Flushing:
                    if (from == P::Writing) return P::Flushing;
                    return std::nullopt;
                case WritePhase::Verifying:
                    if (from == P::Flushing) return P::Verifying;
                    return std::nullopt;
                case WritePhase::Finishing:
                    if (from == P::Verifying) return P::Ejecting;
                    return std::nullopt;
            }
            return std::nullopt;
        case E::EjectStarted:
            if (from == P::Verifying) return P::Ejecting;
            return std::nullopt;
        case E::Completed:
            if (from == P::Ejecting) return P::Complete;
            return std::nullopt;
        case E::Stopped:
            if (from >= P::Preparing && from <= P::Verifying) return P::Cancelled;
            return std::nullopt;
        case E::Errored:
            if (is_write_in_progress(from)) return P::Failed;
            return std::nullopt;
        case E::Reset:
            if (from == P::Complete || from == P::Cancelled || from == P::Failed) return P::Idle;
            return std::nullopt;
        case E::RestoreAccepted:
            if (is_setup_idle(from)) return P::Preparing;
            return std::nullopt;
    }
    return std::nullopt;
}

ScreenKind screen_of(AppPhase phase) {
    if (phase <= AppPhase::Confirming) return ScreenKind::Setup;
    if (phase <= AppPhase::Ejecting) return ScreenKind::Progress;
    if (phase == AppPhase::Complete) return ScreenKind::Complete;
    if (phase == AppPhase::Cancelled) return ScreenKind::Cancelled;
    return ScreenKind::Failed;
}

std::string_view action_name(UiAction action) {
    auto i = static_cast<size_t>(action);
    return i < kActionNames.size() ? kActionNames[i] : "?";
}

}  // namespace sw
