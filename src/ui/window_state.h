// The window's one state record: the application phase and what the events
// carried, the appearance, the pointer and keyboard state, the animations,
// the last frame's hit regions and the links to the workers. Only the window
// thread touches it.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "disk/device_info.h"
#include "disk/eject.h"
#include "disk/facts.h"
#include "disk/health.h"
#include "http/download.h"
#include "http/release_info.h"
#include "i18n/messages.h"
#include "i18n/strings.h"
#include "image/validation.h"
#include "ui/accessibility.h"
#include "ui/app_state.h"
#include "ui/canvas.h"
#include "ui/estimators.h"
#include "ui/palette.h"
#include "ui/preferences.h"
#include "ui/workers.h"
#include "writer/job_types.h"
#include "writer/restore_job.h"

namespace sw {

// A value moving from `from` to `to` over `duration` seconds from `start`.
struct Animation {
    double start = -1e9;
    double duration = 0;
    float from = 0;
    float to = 0;

    static Animation run(double now, double duration, float from, float to) {
        return Animation{now, duration, from, to};
    }
    float value(double now) const {
        if (duration <= 0 || now - start >= duration) return to;
        double t = now <= start ? 0.0 : (now - start) / duration;
        return from + static_cast<float>((to - from) * t);
    }
    bool running(double now) const { return now - start < duration; }
};

struct HoverFade {
    ElementId id;
    Animation fade;
};

struct HitRegion {
    ElementId id;
    Rect rect;  // the part of the element in sight: what a pointer can press
    bool enabled = false;
    Rect whole{};  // all of it where it lies now, in sight or not: what the keys scroll to
};

// The image the operator chose and what validation said of it so far.
struct SelectedImage {
    std::string path;
    std::optional<Sha256Digest> download_digest;
    std::optional<ImageInspection> inspection;  // after the inspection accepted it
    bool accepted = false;                      // validation complete
};

enum class EjectState : uint8_t { NotStarted = 0, Running, Ejected, Failed };

// What the complete screen summarises.
struct WriteSummary {
    uint64_t image_size = 0;
    double write_seconds = 0;
    std::optional<double> verify_seconds;
};

// Where the window is and how far its content scrolls.
struct Geometry {
    uint32_t dpi = 96;
    float scroll = 0;  // device-independent pixels, from 0 to scroll_limit
    // Where the last frame showed the scrolled content, and how far it could
    // scroll: how much of it lay below that area.
    Rect viewport;
    float scroll_limit = 0;
    uint32_t client_width = 560;
    uint32_t client_height = 720;
};

struct Appearance {
    Palette palette = light_palette();
    bool backdrop = false;
    // The language is the one in use (0 English, 1 Spanish, 2 Chinese),
    // never "not set": the window resolves it before it opens.
    Preferences prefs{Theme::System, 0, true};
    // The system shows animations ("Show animations in Windows").
    bool animate = true;
};

// The pointer and the keyboard.
struct InputState {
    ElementId hovered;
    ElementId pressed;
    ElementId focus;
    bool focus_visible = false;
    bool tracking_leave = false;
};

struct Animations {
    Animation screen_fade;
    Animation overlay_fade;
    Animation switch_anim;
    std::vector<HoverFade> hovers;
    bool timer = false;  // the animation timer runs
};

// What the last frame drew.
struct LastFrame {
    // The interactive regions, in drawing order.
    std::vector<HitRegion> regions;
    // What a screen reader is told of the frame.
    A11yTree a11y;
    // The current screen as the last frame drew it, and the screen being
    // faded out as it was last drawn.
    std::vector<DrawOp> screen_picture;
    std::vector<DrawOp> outgoing_picture;
    // The time it was drawn at: an animation still moving then needs another
    // frame, however late that frame comes.
    double drawn_at = -1e9;
    bool first_logged = false;
};

// The image the operator chose and its validation.
struct ImageState {
    std::optional<SelectedImage> chosen;
    std::optional<ValidationError> refused;  // the last refusal, shown in the card
    uint64_t request = 0;
    std::shared_ptr<ValidationProgress> progress = std::make_shared<ValidationProgress>();
    std::shared_ptr<std::atomic<bool>> cancel = std::make_shared<std::atomic<bool>>(false);
};

struct DriveList {
    std::vector<DeviceInfo> list;
    SystemFacts facts;
    bool scanned = false;  // a scan result has arrived
    std::optional<DeviceIdentity> selected;
    bool scan_running = false;
    bool rescan_requested = false;
    uint64_t scans_started = 0;
    // After an image is accepted: the number of the first scan started
    // since. Until it answers, whether a drive holds the image is not known.
    std::optional<uint64_t> awaited_scan;
};

// The download and the release and update checks.
struct DownloadState {
    bool running = false;
    std::shared_ptr<DownloadProgress> progress = std::make_shared<DownloadProgress>();
    std::shared_ptr<std::atomic<bool>> stop = std::make_shared<std::atomic<bool>>(false);
    std::optional<DownloadError> error;
    RateEstimator rate;
    std::optional<ReleaseInfo> release;
    std::optional<UpdateNoticeMessage> update;
};

struct DriveCheckState {
    bool running = false;
    std::optional<DeviceInfo> drive;
    std::optional<HealthReport> report;
};

// One write (or restore) from its start to the end screen's last button:
// what ends it resets it in one assignment.
struct WriteSession {
    // A restore runs through the same phases and screens as a write; only
    // what they say differs.
    bool restore = false;
    std::optional<RestoreReport> restored;  // a restore's outcome, once it succeeded
    std::optional<WriteJob> handles;
    std::optional<DeviceInfo> drive;  // the record the job was given
    WritePhase highest_applied = WritePhase::Preparing;
    std::optional<JobError> failure;
    // The details of a failure the window found itself, shown as they are
    // instead of the error's own text.
    std::optional<std::string> failure_details;
    std::optional<WriteSummary> summary;
    double started_at = 0;
    bool verify = true;  // the preference the running write was started with
    EjectState eject = EjectState::NotStarted;
    bool details_expanded = false;
    std::optional<double> copied_at;    // the failure's details were copied
    std::optional<double> complete_at;  // the complete screen appeared
    RateEstimator rate;
    WritePhase rate_phase = WritePhase::Writing;  // the phase the rate was last fed in
    RemainingEstimator remaining_estimator;
    Remaining remaining;
    // The counters last read from the write's record.
    uint64_t shown_done = 0;
    uint64_t shown_total = 0;
    WritePhase shown_phase = WritePhase::Preparing;
    PrepareStep shown_step = PrepareStep::Checking;
    bool progress_seen = false;
};

struct WindowState {
    // The application phase and what it shows.
    AppPhase phase = AppPhase::Idle;
    Overlay overlay = Overlay::None;
    ScreenKind screen = ScreenKind::Setup;
    ScreenKind previous_screen = ScreenKind::Setup;

    // Where the settings are saved and the log folder the failure screen
    // opens; none when there is no log directory.
    std::optional<std::filesystem::path> settings_file;
    std::optional<std::filesystem::path> log_folder;

    Geometry geometry;
    Appearance appearance;
    InputState input;
    Animations animations;
    LastFrame last_frame;
    ImageState image;
    DriveList drives;
    DownloadState download;
    DriveCheckState drive_check;
    WriteSession write;
};

// Every USB drive of the last scan with its refusals (for the image chosen,
// if any), in the scan's order.
std::vector<std::pair<const DeviceInfo*, std::vector<Refusal>>> listed_drives(
    const WindowState& state);
// The listed drives that may be chosen: those without refusals.
std::vector<const DeviceInfo*> offered_drives(const WindowState& state);
// The selected drive, if it is still offered with the same identity.
const DeviceInfo* selected_drive(const WindowState& state);
// The accepted image's size, if an image has been inspected.
std::optional<uint64_t> image_size(const WindowState& state);
// The guard of an action as the state stands.
bool action_enabled(const WindowState& state, ElementId action);
// The failed screen's title, advice and details.
FailureMessage failure_message(const WindowState& state);
// The heading of a phase of a write or restore as the progress and end
// screens show it (and a screen reader is told on entering it); none for
// the setup and failed phases.
std::optional<TextId> phase_heading(const WindowState& state);
// An element's hover fade value at `now` (0 without one).
float hover_value(const WindowState& state, ElementId id, double now);

}  // namespace sw
