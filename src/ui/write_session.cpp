#include <algorithm>

#include "i18n/format.h"
#include "i18n/strings.h"
#include "logging/logger.h"
#include "ui/controller.h"

namespace sw {

namespace {

void log_info(std::string_view line) {
    Logger::write(LogLevel::Info, line);
}

}  // namespace

void WindowController::start_write_on(const DeviceInfo& drive) {
    WriteChoice choice;
    choice.image = image_facts_of(*state_.image.chosen->inspection);
    choice.image_path = state_.image.chosen->path;
    choice.drive = drive;
    choice.verify = state_.appearance.prefs.verify;
    state_.write = {};
    begin_job(workers_.start_write(choice, state_.drives.list), drive, choice.verify,
              TextId::ProgressTitle);
}

void WindowController::start_restore_on(const DeviceInfo& drive) {
    state_.write = {};
    state_.write.restore = true;
    // A restore always reads back what it wrote.
    begin_job(workers_.start_restore(drive, state_.drives.list), drive, true,
              TextId::RestoreRunningTitle);
}

// The session of a job that was just asked to start: its handles, or, when
// the drive left the list between the confirmation and the start (nothing was
// written), the failure screen that says so.
void WindowController::begin_job(std::optional<WriteJob> handles, const DeviceInfo& drive,
                                 bool verify, TextId running_title) {
    if (!handles) {
        state_.write.failure = JobError::of(JobError::Kind::IdentityChanged,
                                            "the chosen drive is no longer connected");
        dispatch_event(AppEvent::of(EventKind::Errored));
        return;
    }
    WriteSession& write = state_.write;
    write.handles = std::move(*handles);
    write.drive = drive;
    write.verify = verify;
    host_.block_shutdown(text(language_from_value(state_.appearance.prefs.lang), running_title));
    host_.set_taskbar_state(TaskbarState::Indeterminate);
    write.started_at = now();
    reset_rate(write.rate, now());
    update_animation_timer();
}

void WindowController::on_restore_finished(RestoreFinished& m) {
    host_.unblock_shutdown();
    host_.set_taskbar_state(TaskbarState::None);
    if (!m.result) {
        JobError error = std::move(m.result.error());
        if (error.is_cancelled() && dispatch_event(AppEvent::of(EventKind::Stopped))) return;
        state_.write.failure = std::move(error);
        dispatch_event(AppEvent::of(EventKind::Errored));
        return;
    }
    log_info(fmt("restored: {}", restored_summary(*m.result)));
    state_.write.restored = std::move(*m.result);
    catch_up_and_complete();
}

void WindowController::release_write() {
    state_.write = {};
    state_.drive_check.report.reset();
    state_.drive_check.drive.reset();
    host_.set_taskbar_state(TaskbarState::None);
}

void WindowController::apply_write_phases(WritePhase published) {
    if (published <= state_.write.highest_applied) return;
    for (int p = static_cast<int>(WritePhase::Writing); p <= static_cast<int>(published); ++p) {
        AppPhase old = state_.phase;
        auto next = transition(old, AppEvent::phase_entered(static_cast<WritePhase>(p)));
        if (!next || *next == old) continue;
        log_info(fmt("state {} -> {}", phase_name(old), phase_name(*next)));
        state_.phase = *next;
        on_phase_changed();
    }
    state_.write.highest_applied = published;
}

void WindowController::catch_up_and_complete() {
    for (WritePhase p : {WritePhase::Writing, WritePhase::Flushing, WritePhase::Verifying,
                         WritePhase::Finishing}) {
        if (auto next = transition(state_.phase, AppEvent::phase_entered(p))) state_.phase = *next;
    }
    dispatch_event(AppEvent::of(EventKind::Completed));
}

void WindowController::on_write_finished(WriteFinished& m) {
    host_.unblock_shutdown();
    host_.set_taskbar_state(TaskbarState::None);
    if (!m.result) {
        JobError error = std::move(m.result.error());
        if (error.is_cancelled()) {
            if (dispatch_event(AppEvent::of(EventKind::Stopped))) return;
            // A stop that took effect while the drive was being finished:
            // the media is not complete, which is a failure, not a state to
            // stay in.
        }
        state_.write.failure = std::move(error);
        dispatch_event(AppEvent::of(EventKind::Errored));
        return;
    }
    const PipelineReport& report = m.result->pipeline;
    WriteSummary summary;
    summary.image_size = image_size(state_).value_or(0);
    summary.write_seconds = report.write_seconds;
    if (report.verified) summary.verify_seconds = report.verify_seconds;
    state_.write.summary = summary;
    catch_up_and_complete();
}

}  // namespace sw
