// The interface's phases, the events that move between them and the user
// actions the hit regions and keys raise. The transition table is a pure
// function so that every pair can be tested without a window.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "writer/progress.h"

namespace sw {

enum class AppPhase : uint8_t {
    Idle = 0,
    Downloading,
    ImageSelected,
    ValidatingImage,
    ImageReady,
    DeviceReady,
    Confirming,
    Preparing,
    Writing,
    Flushing,
    Verifying,
    Ejecting,
    Complete,
    Cancelled,
    Failed,
};
inline constexpr int kPhaseCount = 15;

std::string_view phase_name(AppPhase phase);
// Preparing … Ejecting: a write job runs.
bool is_write_in_progress(AppPhase phase);
// Idle, ImageReady, DeviceReady: a new image may be chosen.
bool is_setup_idle(AppPhase phase);

enum class EventKind : uint8_t {
    ImagePicked,
    DownloadStarted,
    DownloadFinished,
    DownloadStopped,
    ValidationStarted,
    ImageAccepted,
    ImageRefused,
    DeviceSelected,
    DeviceCleared,
    CreatePressed,
    ConfirmAccepted,
    ConfirmDismissed,
    PhaseEntered,
    EjectStarted,
    Completed,
    Stopped,
    Errored,
    Reset,
    // A confirmed restore of the chosen drive: from the setup straight to
    // the job, no image needed.
    RestoreAccepted,
};
inline constexpr int kEventKindCount = 19;

struct AppEvent {
    EventKind kind = EventKind::Reset;
    WritePhase write_phase = WritePhase::Preparing;  // PhaseEntered only

    static AppEvent of(EventKind kind) { return AppEvent{kind, WritePhase::Preparing}; }
    static AppEvent phase_entered(WritePhase phase) {
        return AppEvent{EventKind::PhaseEntered, phase};
    }
    friend bool operator==(const AppEvent& a, const AppEvent& b) {
        return a.kind == b.kind &&
               (a.kind != EventKind::PhaseEntered || a.write_phase == b.write_phase);
    }
};

// One byte: 0–4 are PhaseEntered with that write phase, the other kinds
// are 5 plus their place in the order (5–23), so PhaseEntered's own slot,
// 17, is never used.
uint8_t encode_event(AppEvent event);
std::optional<AppEvent> decode_event(uint8_t value);

// "ImagePicked", "PhaseEntered(Writing)", …
std::string event_name(AppEvent event);

// The whole table; none for every pair it does not list.
std::optional<AppPhase> transition(AppPhase from, AppEvent event);

enum class ScreenKind : uint8_t { Setup = 0, Progress, Complete, Cancelled, Failed };
ScreenKind screen_of(AppPhase phase);

enum class Overlay : uint8_t {
    None = 0,
    EraseConfirm,
    StopConfirm,
    Appearance,
    CloseRefused,
    DriveCheck,
    RestoreConfirm,
};

enum class UiAction : uint8_t {
    TogglePanel = 0,
    SelectImage,
    DownloadLatest,
    StopDownload,
    SelectDrive,  // parameter: disk number
    Create,
    DismissErase,
    AcceptErase,
    StopWrite,
    DismissOverlay,
    ConfirmStop,
    Done,
    TryAgain,
    ToggleDetails,
    CopyDetails,
    SetTheme,     // parameter: 0 System, 1 Light, 2 Dark
    SetLanguage,  // parameter: 0 English, 1 Spanish, 2 Chinese
    OpenUpdate,
    ClosePanel,
    OpenLogFolder,
    CheckDrive,
    ToggleVerify,
    Eject,
    CloseDriveCheck,
    None = 24,
    // The restore of a chosen drive: the action beside "Check drive" and its
    // confirmation's two buttons.
    RestoreDrive,
    DismissRestore,
    AcceptRestore,
};

std::string_view action_name(UiAction action);

// An interactive element: an action and its parameter. Only the drive, theme
// and language actions tell elements apart by their parameter.
struct ElementId {
    UiAction kind = UiAction::None;
    uint32_t param = 0;

    bool is_none() const { return kind == UiAction::None; }
    friend bool operator==(const ElementId& a, const ElementId& b) {
        if (a.kind != b.kind) return false;
        bool keyed = a.kind == UiAction::SelectDrive || a.kind == UiAction::SetTheme ||
                     a.kind == UiAction::SetLanguage;
        return !keyed || a.param == b.param;
    }
};

}  // namespace sw
