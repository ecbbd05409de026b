// The window's logic through a fake host and fake workers: the state
// machine's handling of events, actions and worker messages, pointer, keys,
// timers and closing.
#include <gtest/gtest.h>

#include <thread>

#include "support/log_capture.h"
#include "support/temp_dir.h"
#include "support/ui_harness.h"
#include "ui/view.h"

namespace sw {
namespace {

using namespace std::chrono_literals;
using test::UiHarness;
using test::usb_stick;

class UiController : public ::testing::Test {
  protected:
    test::LogCapture log;
    UiHarness h;
    WindowState& s() { return h.s(); }
    WindowController& ui() { return h.ui; }

    void to_device_ready() {
        h.scan({usb_stick(10)});
        h.pick_and_accept();
        h.scan({usb_stick(10)});  // the drives checked against the accepted image
        ASSERT_EQ(s().phase, AppPhase::DeviceReady);
    }
    // Seven sticks, more than the setup screen shows at once; the image
    // accepted and the first stick chosen.
    void to_many_drives() {
        std::vector<DeviceInfo> sticks;
        for (uint32_t n = 10; n < 17; ++n)
            sticks.push_back(usb_stick(n));
        h.scan(sticks);
        h.pick_and_accept();
        h.scan(sticks);
        ui().select_drive(10);
        h.frame();
        ASSERT_EQ(s().phase, AppPhase::DeviceReady);
        ASSERT_GT(s().geometry.scroll_limit, 100);
    }
    void to_writing() {
        to_device_ready();
        ASSERT_TRUE(h.click(UiAction::Create));
        ASSERT_TRUE(h.click(UiAction::AcceptErase));
        ASSERT_EQ(s().phase, AppPhase::Preparing);
        h.workers.write->progress->set(1000, 8'000'000, WritePhase::Writing);
        h.advance(20ms);
        ASSERT_EQ(s().phase, AppPhase::Writing);
    }
    WriteFinished finished_ok() {
        WriteReport report;
        report.pipeline.write_seconds = 2;
        report.pipeline.verify_seconds = 1;
        report.pipeline.verified = true;
        return WriteFinished{report};
    }
};

TEST_F(UiController, DispatchLogsChangesAndWarnsOnRefusedEvents) {
    EXPECT_FALSE(ui().dispatch_event(AppEvent::of(EventKind::Reset)));
    EXPECT_EQ(log.matching("ignored event Reset in state Idle").size(), 1u);
    EXPECT_TRUE(ui().dispatch_event(AppEvent::of(EventKind::DownloadStarted)));
    EXPECT_EQ(log.matching("INFO  state Idle --DownloadStarted--> Downloading").size(), 1u);
    // A self-transition is applied without a line.
    size_t lines = log.lines().size();
    EXPECT_TRUE(ui().dispatch_event(AppEvent::of(EventKind::DeviceCleared)));
    EXPECT_EQ(log.lines().size(), lines);
    EXPECT_EQ(s().phase, AppPhase::Downloading);
}

TEST_F(UiController, ImagePickValidationAndAutomaticDriveChoice) {
    h.scan({usb_stick(10)});
    // The single offered drive is chosen at once; the phase waits for an image.
    ASSERT_TRUE(s().drives.selected);
    EXPECT_EQ(s().phase, AppPhase::Idle);
    h.ui.picker_result("/tmp/a.iso");
    EXPECT_EQ(s().phase, AppPhase::ValidatingImage);
    ASSERT_EQ(h.workers.validations.size(), 1u);
    auto first = h.workers.validations[0];
    EXPECT_EQ(first.path, "/tmp/a.iso");
    // A pick during validation is dropped.
    h.ui.picker_result("/tmp/b.iso");
    EXPECT_EQ(h.workers.validations.size(), 1u);
    // A stale result is dropped.
    h.send(ImageInspected{first.request_number + 5, "/tmp/a.iso", test::unsigned_inspection()});
    EXPECT_EQ(s().phase, AppPhase::ValidatingImage);
    // A signed image waits for its content check.
    ImageInspection signed_one = test::unsigned_inspection();
    signed_one.manifest = MediaManifest{};
    h.send(ImageInspected{first.request_number, "/tmp/a.iso", signed_one});
    EXPECT_EQ(s().phase, AppPhase::ValidatingImage);
    h.send(ImageContentChecked{first.request_number, "/tmp/a.iso", {}});
    EXPECT_EQ(s().phase, AppPhase::DeviceReady);
    EXPECT_EQ(log.matching("image picked: /tmp/a.iso").size(), 1u);
    EXPECT_EQ(log.matching("drive selected: disk 10").size(), 1u);
}

TEST_F(UiController, RefusedImageReturnsToIdleAndCancelsTheOldValidation) {
    h.ui.picker_result("/tmp/a.iso");
    auto cancel = h.workers.last_validation_cancel;
    h.send(ImageInspected{s().image.request, "/tmp/a.iso",
                          unexpected(ValidationError::of(ValidationError::Kind::NotIso))});
    EXPECT_EQ(s().phase, AppPhase::Idle);
    EXPECT_FALSE(s().image.chosen);
    EXPECT_EQ(log.matching("WARN  image refused").size(), 1u);
    EXPECT_TRUE(h.canvas.ops().size() > 0);
    EXPECT_TRUE(test::has_text(h.canvas, "This file is not a disk image."));
    h.ui.picker_result("/tmp/b.iso");
    EXPECT_TRUE(cancel->load());
    EXPECT_EQ(h.workers.validations.back().request_number, 2u);
}

TEST_F(UiController, SelectedImageTooBigForTheChosenDriveClearsTheChoice) {
    h.scan({usb_stick(10, 4'000'000)});
    ASSERT_TRUE(s().drives.selected);
    h.pick_and_accept("/tmp/a.iso", test::unsigned_inspection(8'000'000));
    EXPECT_EQ(s().phase, AppPhase::ImageReady);
    EXPECT_FALSE(s().drives.selected);
}

TEST_F(UiController, WritePhasesAdvanceOnTicksWithOneLineEach) {
    to_writing();
    h.workers.write->progress->set(4'000'000, 8'000'000, WritePhase::Writing);
    h.advance(200ms);
    EXPECT_EQ(h.host.taskbar_value, 350u);  // 0.7 × ½
    EXPECT_TRUE(h.host.shutdown_blocked);
    EXPECT_EQ(h.host.count("block_shutdown Creating Ortivex Installation Media"), 1u);
    h.workers.write->progress->set(0, 0, WritePhase::Verifying);
    h.advance(20ms);
    EXPECT_EQ(s().phase, AppPhase::Verifying);
    EXPECT_EQ(log.matching("state Writing -> Flushing").size(), 1u);
    EXPECT_EQ(log.matching("state Flushing -> Verifying").size(), 1u);
    // The verify counter starts from 0 again: the rate goes on from there
    // rather than taking the fall of the count as a stall.
    ASSERT_TRUE(s().write.rate.has_value);
    h.workers.write->progress->set(1'000'000, 8'000'000, WritePhase::Verifying);
    h.advance(16ms);
    EXPECT_EQ(s().write.rate.last_bytes, 1'000'000u);
    EXPECT_TRUE(s().write.rate.has_value);
    h.workers.write->progress->set(4'000'000, 8'000'000, WritePhase::Verifying);
    h.advance(20ms);
    EXPECT_EQ(h.host.taskbar_state, TaskbarState::Normal);
    EXPECT_EQ(h.host.taskbar_value, 850u);  // 0.7 + 0.3 × ½
}

TEST_F(UiController, JobFinishingBetweenTicksCatchesUpSilently) {
    to_device_ready();
    ASSERT_TRUE(h.click(UiAction::Create));
    ASSERT_TRUE(h.click(UiAction::AcceptErase));
    ASSERT_EQ(s().phase, AppPhase::Preparing);
    h.send(finished_ok());
    EXPECT_EQ(s().phase, AppPhase::Complete);
    EXPECT_EQ(log.matching("state Ejecting --Completed--> Complete").size(), 1u);
    // The catch-up through Writing, Flushing, Verifying and Ejecting is silent.
    EXPECT_TRUE(log.matching("state Preparing").empty());
    EXPECT_TRUE(log.matching("-> Writing").empty());
    EXPECT_TRUE(log.matching("-> Ejecting").empty());
    EXPECT_FALSE(h.host.shutdown_blocked);
    EXPECT_TRUE(test::has_text(h.canvas, "Ortivex is ready."));
}

TEST_F(UiController, StopDuringEjectingIsIgnoredAndTheResultDecides) {
    to_writing();
    h.workers.write->progress->set(0, 0, WritePhase::Finishing);
    // Without read-back the job goes from Flushing straight to Finishing.
    h.advance(20ms);
    EXPECT_EQ(s().phase, AppPhase::Ejecting);
    EXPECT_FALSE(ui().dispatch_event(AppEvent::of(EventKind::Stopped)));
    EXPECT_EQ(log.matching("ignored event Stopped in state Ejecting").size(), 1u);
    h.send(finished_ok());
    EXPECT_EQ(s().phase, AppPhase::Complete);
}

TEST_F(UiController, CancelledResultAfterEjectingBeganEndsAsFailedNotStuck) {
    to_writing();
    h.workers.write->progress->set(0, 0, WritePhase::Finishing);
    h.advance(20ms);
    ASSERT_EQ(s().phase, AppPhase::Ejecting);
    h.send(WriteFinished{
        unexpected(JobError::of_pipeline(PipelineError::of(PipelineError::Kind::Cancelled)))});
    EXPECT_EQ(s().phase, AppPhase::Failed);
    ASSERT_TRUE(s().write.failure);
}

TEST_F(UiController, StopConfirmedSetsTheFlagAndEndsCancelled) {
    to_writing();
    ASSERT_TRUE(h.click(UiAction::StopWrite));
    EXPECT_EQ(s().overlay, Overlay::StopConfirm);
    EXPECT_EQ(s().input.focus.kind, UiAction::DismissOverlay);  // "Continue" has the focus
    ASSERT_TRUE(h.click(UiAction::ConfirmStop));
    EXPECT_TRUE(h.workers.write->stop->load());
    EXPECT_EQ(log.matching("operator stopped the write").size(), 1u);
    h.send(WriteFinished{
        unexpected(JobError::of_pipeline(PipelineError::of(PipelineError::Kind::Cancelled)))});
    EXPECT_EQ(s().phase, AppPhase::Cancelled);
    EXPECT_EQ(h.host.taskbar_state, TaskbarState::None);
    ASSERT_TRUE(h.click(UiAction::Done));
    // Done picks the same image again and rescans.
    EXPECT_EQ(s().phase, AppPhase::ValidatingImage);
    EXPECT_EQ(h.workers.validations.size(), 2u);
}

TEST_F(UiController, DeviceClearedWhileConfirmingClosesTheConfirmation) {
    to_device_ready();
    ASSERT_TRUE(h.click(UiAction::Create));
    EXPECT_EQ(s().overlay, Overlay::EraseConfirm);
    EXPECT_EQ(s().input.focus.kind, UiAction::DismissErase);
    h.scan({});
    EXPECT_EQ(s().phase, AppPhase::ImageReady);
    EXPECT_EQ(s().overlay, Overlay::None);
    EXPECT_EQ(log.matching("selected drive 10 is gone or no longer writable").size(), 1u);
}

TEST_F(UiController, AcceptingAfterTheDriveChangedStartsNothing) {
    to_device_ready();
    ASSERT_TRUE(h.click(UiAction::Create));
    // Same number, another stick: identity differs. The scan is served, but
    // the choice is only checked when accepted.
    s().drives.list = {usb_stick(10, 16'000'000'000, "OTHER")};
    ASSERT_TRUE(h.click(UiAction::AcceptErase));
    EXPECT_EQ(s().phase, AppPhase::DeviceReady);  // dismissed: nothing was started
    EXPECT_TRUE(h.workers.writes.empty());
    EXPECT_EQ(s().overlay, Overlay::None);
}

TEST_F(UiController, FailedWriteAndCopyDetails) {
    to_writing();
    h.send(WriteFinished{unexpected(JobError::of_pipeline(
        PipelineError::of(PipelineError::Kind::DeviceDisconnected, "gone")))});
    EXPECT_EQ(s().phase, AppPhase::Failed);
    EXPECT_TRUE(test::has_text(h.canvas, "USB drive disconnected."));
    ASSERT_TRUE(h.click(UiAction::CopyDetails));
    auto file = Logger::current_file();
    ASSERT_TRUE(file);
    EXPECT_EQ(h.host.clipboard,
              "USB drive disconnected.\nThe installation media was not completed. Reconnect the "
              "USB drive and try again.\n\n" +
                  s().write.failure->text() + "\n\nlog: " + file->string());
    EXPECT_TRUE(h.host.timer_running(TimerId::Animation));  // the check mark
    h.frame();
    EXPECT_TRUE(test::has_text(h.canvas, "✓"));
    h.advance(1700ms);
    EXPECT_FALSE(h.host.timer_running(TimerId::Animation));
    ASSERT_TRUE(h.click(UiAction::ToggleDetails));
    EXPECT_TRUE(test::has_text(h.canvas, "Hide details"));
    ASSERT_TRUE(h.click(UiAction::OpenLogFolder));
}

TEST_F(UiController, ActionGuards) {
    auto enabled = [&](UiAction a) { return action_enabled(s(), ElementId{a}); };
    // Idle, nothing else.
    EXPECT_TRUE(enabled(UiAction::SelectImage));
    EXPECT_TRUE(enabled(UiAction::DownloadLatest));
    EXPECT_FALSE(enabled(UiAction::Create));
    EXPECT_FALSE(enabled(UiAction::StopWrite));
    EXPECT_FALSE(enabled(UiAction::CopyDetails));
    EXPECT_FALSE(enabled(UiAction::OpenUpdate));
    EXPECT_FALSE(enabled(UiAction::CheckDrive));  // no drive
    EXPECT_TRUE(enabled(UiAction::ToggleVerify));
    EXPECT_FALSE(enabled(UiAction::Eject));
    EXPECT_TRUE(enabled(UiAction::CloseDriveCheck));
    for (UiAction a :
         {UiAction::TogglePanel, UiAction::StopDownload, UiAction::DismissErase,
          UiAction::AcceptErase, UiAction::DismissOverlay, UiAction::ConfirmStop, UiAction::Done,
          UiAction::TryAgain, UiAction::ToggleDetails, UiAction::SetTheme, UiAction::SetLanguage,
          UiAction::ClosePanel, UiAction::OpenLogFolder})
        EXPECT_TRUE(enabled(a)) << action_name(a);
    EXPECT_FALSE(enabled(UiAction::None));

    to_device_ready();
    EXPECT_TRUE(enabled(UiAction::Create));
    EXPECT_TRUE(enabled(UiAction::CheckDrive));
    s().overlay = Overlay::Appearance;
    EXPECT_FALSE(enabled(UiAction::CheckDrive));
    EXPECT_FALSE(enabled(UiAction::ToggleVerify));
    s().overlay = Overlay::None;

    // A failed guard does nothing: Eject before Complete starts no eject.
    EXPECT_EQ(ui().perform_action({UiAction::Eject}).kind, Effect::Nothing);
    EXPECT_TRUE(h.workers.ejects.empty());
    // The stop button exists but is disabled in Flushing and Ejecting.
    ASSERT_TRUE(h.click(UiAction::Create));
    ASSERT_TRUE(h.click(UiAction::AcceptErase));
    for (WritePhase p : {WritePhase::Writing, WritePhase::Flushing}) {
        h.workers.write->progress->set(0, 0, p);
        h.advance(20ms);
        h.frame();
        auto* stop = test::find_region(s(), UiAction::StopWrite);
        ASSERT_TRUE(stop);
        EXPECT_EQ(stop->enabled, p == WritePhase::Writing);
    }
    EXPECT_FALSE(enabled(UiAction::ToggleVerify));
    EXPECT_FALSE(enabled(UiAction::SelectImage));
    s().drive_check.running = true;
    EXPECT_FALSE(enabled(UiAction::CloseDriveCheck));
    s().drive_check.running = false;
    h.send(finished_ok());
    EXPECT_TRUE(enabled(UiAction::Eject));
    ASSERT_TRUE(h.click(UiAction::Eject));
    EXPECT_EQ(h.workers.ejects, std::vector<uint32_t>{10});
    EXPECT_FALSE(enabled(UiAction::Eject));
    h.frame();
    EXPECT_TRUE(test::has_text(h.canvas, "Ejecting…"));
    h.send(EjectFinished{EjectOutcome{}});
    EXPECT_EQ(s().write.eject, EjectState::Ejected);
}

TEST_F(UiController, ThemeLanguageAndVerifyAreSaved) {
    test::TempDir dir;
    s().settings_file = dir.path() / "settings.ini";
    ASSERT_TRUE(h.click(UiAction::TogglePanel));
    ASSERT_EQ(s().overlay, Overlay::Appearance);
    ASSERT_TRUE(h.click(UiAction::SetTheme, 2));
    EXPECT_TRUE(s().appearance.palette.is_dark);
    EXPECT_TRUE(h.host.frame.dark_mode);
    ASSERT_TRUE(h.click(UiAction::SetLanguage, 1));
    EXPECT_EQ(s().appearance.prefs.lang, 1);
    EXPECT_EQ(test::read_file(*s().settings_file), "theme=dark\nlang=es\nverify=on\n");
    // A press outside every region closes the panel.
    h.click_at(5, 700);
    EXPECT_EQ(s().overlay, Overlay::None);
    ASSERT_TRUE(h.click(UiAction::ToggleVerify));
    EXPECT_FALSE(s().appearance.prefs.verify);
    EXPECT_TRUE(h.host.timer_running(TimerId::Animation));  // the switch moves
    EXPECT_EQ(test::read_file(*s().settings_file), "theme=dark\nlang=es\nverify=off\n");
    EXPECT_EQ(ui().perform_action({UiAction::SetLanguage, 9}).kind, Effect::Nothing);
    EXPECT_EQ(s().appearance.prefs.lang, 2);
}

TEST_F(UiController, ChangingOnlyVerifyFixesTheDetectedLanguage) {
    test::TempDir dir;
    s().settings_file = dir.path() / "settings.ini";
    // Detected as Spanish when the settings named none: the language in use
    // is what is saved, whatever changed.
    s().appearance.prefs.lang = 1;
    ASSERT_TRUE(h.click(UiAction::ToggleVerify));
    EXPECT_EQ(test::read_file(*s().settings_file), "theme=system\nlang=es\nverify=off\n");
}

TEST(UiMessageQueue, OldestFirstAndWakingAfterTheWindowIsGoneIsHarmless) {
    auto queue = std::make_shared<MessageQueue>();
    int wakes = 0;
    queue->set_waker([&] { ++wakes; });
    queue->send(WriteEjectStarted{});
    queue->send(UpdateNoticeMessage{"2.0", "https://x"});
    EXPECT_EQ(wakes, 2);
    auto messages = queue->drain();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(std::holds_alternative<WriteEjectStarted>(messages[0]));
    EXPECT_TRUE(std::holds_alternative<UpdateNoticeMessage>(messages[1]));
    EXPECT_TRUE(queue->drain().empty());
    queue->clear_waker();
    // A worker that outlives the window still holds the queue and may append.
    std::thread late([q = queue] { q->send(WriteEjectStarted{}); });
    late.join();
    EXPECT_EQ(wakes, 2);
    EXPECT_TRUE(queue->wait_for_message(std::chrono::milliseconds(1)));
    EXPECT_EQ(queue->drain().size(), 1u);
    EXPECT_FALSE(queue->wait_for_message(std::chrono::milliseconds(1)));
}

TEST_F(UiController, PressAndReleaseOnDifferentRegionsDoNothing) {
    to_device_ready();
    h.frame();
    const HitRegion* create = test::find_region(s(), UiAction::Create);
    const HitRegion* select = test::find_region(s(), UiAction::SelectImage);
    ASSERT_TRUE(create && select);
    Rect a = create->rect, b = select->rect;
    ui().button_down(static_cast<int>(a.x + 5), static_cast<int>(a.y + 5));
    ui().button_up(static_cast<int>(b.x + 5), static_cast<int>(b.y + 5));
    EXPECT_EQ(s().phase, AppPhase::DeviceReady);
    EXPECT_EQ(h.host.pickers, 0);
    EXPECT_EQ(h.host.count("capture"), 1u);
    EXPECT_EQ(h.host.count("release"), 1u);
    // A press on a disabled region does nothing on release either.
    s().phase = AppPhase::ImageReady;
    h.frame();
    create = test::find_region(s(), UiAction::Create);
    ASSERT_TRUE(create);
    EXPECT_FALSE(create->enabled);
    h.click_at(create->rect.x + 5, create->rect.y + 5);
    EXPECT_EQ(s().phase, AppPhase::ImageReady);
    EXPECT_EQ(s().overlay, Overlay::None);
}

TEST_F(UiController, HitTestingAt144Dpi) {
    h.frame();
    ui().dpi_changed(144);
    const Rect r{95, 195, 10, 10};
    s().last_frame.regions = {{ElementId{UiAction::TogglePanel}, r, true, r}};
    ui().button_down(150, 300);  // (100, 200) in device-independent pixels
    ui().button_up(150, 300);
    EXPECT_EQ(s().overlay, Overlay::Appearance);
    EXPECT_FLOAT_EQ(ui().to_dip(150), 100);
    // The hand cursor over an enabled region.
    ui().mouse_move(150, 300);
    ui().set_cursor();
    EXPECT_EQ(h.host.cursor, CursorKind::Hand);
    ui().mouse_move(0, 0);
    ui().set_cursor();
    EXPECT_EQ(h.host.cursor, CursorKind::Arrow);
    EXPECT_EQ(h.host.count("track_leave"), 1u);  // once until the pointer leaves
}

TEST_F(UiController, DeviceChangesAreDebouncedIntoOneRescan) {
    for (int i = 0; i < 10; ++i) {
        ui().device_change();
        h.advance(100ms);
    }
    EXPECT_TRUE(h.workers.scans.empty());
    h.advance(249ms);
    EXPECT_TRUE(h.workers.scans.empty());
    h.advance(2ms);
    EXPECT_EQ(h.workers.scans.size(), 1u);
    EXPECT_FALSE(h.host.timer_running(TimerId::DeviceChange));
    h.advance(1000ms);
    EXPECT_EQ(h.workers.scans.size(), 1u);
}

TEST_F(UiController, AtMostOneScanAndNoneDuringAWriteOrACheck) {
    ui().request_scan();
    ui().request_scan();
    ui().request_scan();
    EXPECT_EQ(h.workers.scans.size(), 1u);
    h.scan({usb_stick(10)});  // the remembered request is served now
    EXPECT_EQ(h.workers.scans.size(), 2u);
    h.scan({usb_stick(10)});
    EXPECT_EQ(h.workers.scans.size(), 2u);

    h.pick_and_accept();
    h.scan({usb_stick(10)});  // the one the accepted image asked for
    size_t before = h.workers.scans.size();
    ASSERT_TRUE(h.click(UiAction::CheckDrive));
    EXPECT_EQ(s().overlay, Overlay::DriveCheck);
    ui().request_scan();
    EXPECT_EQ(h.workers.scans.size(), before);
    // Escape leaves the panel open while the check runs.
    ui().key_down(Key::Escape, false);
    EXPECT_EQ(s().overlay, Overlay::DriveCheck);
    ui().close();
    EXPECT_FALSE(h.host.destroyed);  // ignored during a drive check
    h.send(DriveCheckFinished{10, HealthReport{}});
    EXPECT_EQ(h.workers.scans.size(), before + 1);  // served after the check
    ui().key_down(Key::Escape, false);
    EXPECT_EQ(s().overlay, Overlay::None);
}

TEST_F(UiController, ClosingDuringAWriteOpensTheNoticeAndKeepsTheWindow) {
    to_writing();
    ui().close();
    EXPECT_FALSE(h.host.destroyed);
    EXPECT_EQ(s().overlay, Overlay::CloseRefused);
    EXPECT_FALSE(ui().query_end_session());
    h.frame();
    EXPECT_TRUE(test::has_text(h.canvas, "A USB drive is being created."));
    EXPECT_TRUE(test::has_text(h.canvas, "Stop it first, or wait until it finishes."));
    ui().key_down(Key::Enter, false);  // "Close" has the focus
    EXPECT_EQ(s().overlay, Overlay::None);
    EXPECT_EQ(s().phase, AppPhase::Writing);
}

TEST_F(UiController, ClosingWhenIdleStopsWorkersAndDestroys) {
    h.ui.picker_result("/tmp/a.iso");
    auto cancel = h.workers.last_validation_cancel;
    EXPECT_TRUE(ui().query_end_session());
    ui().close();
    EXPECT_TRUE(h.host.destroyed);
    EXPECT_TRUE(cancel->load());
    ui().destroy();
    h.queue->send(WriteEjectStarted{});  // waking after the window is gone is harmless
}

TEST_F(UiController, ScrollingStopsAtBothEndsOfTheContent) {
    // All of it in sight: nothing scrolls.
    h.frame();
    ui().wheel(-120);
    EXPECT_FLOAT_EQ(s().geometry.scroll, 0);

    to_many_drives();
    ui().wheel(120);
    EXPECT_FLOAT_EQ(s().geometry.scroll, 0);  // up at 0 stays 0
    ui().wheel(-120);
    EXPECT_FLOAT_EQ(s().geometry.scroll, 40);
    h.frame();
    // The content moved up by 40; the header and the main button did not.
    EXPECT_FLOAT_EQ(test::find_region(s(), UiAction::SelectImage)->rect.y, 238 - 40);
    EXPECT_FLOAT_EQ(test::find_region(s(), UiAction::TogglePanel)->rect.y, 18);
    EXPECT_EQ(test::find_region(s(), UiAction::Create)->rect, (Rect{32, 616, 496, 48}));
    ui().wheel(60);
    EXPECT_FLOAT_EQ(s().geometry.scroll, 20);
    // Down to the end of the content and no further: the verify row in sight.
    for (int i = 0; i < 20; ++i)
        ui().wheel(-120);
    EXPECT_FLOAT_EQ(s().geometry.scroll, s().geometry.scroll_limit);
    h.frame();
    const HitRegion* verify = test::find_region(s(), UiAction::ToggleVerify);
    ASSERT_TRUE(verify);
    EXPECT_EQ(verify->rect, verify->whole);
    EXPECT_LE(verify->rect.bottom(), s().geometry.viewport.bottom());
    EXPECT_EQ(test::find_region(s(), UiAction::Create)->rect, (Rect{32, 616, 496, 48}));
}

TEST_F(UiController, WithManyDrivesNothingOutOfSightCanBePressed) {
    // Four sticks put the main button below the footer line unless it
    // keeps its place; a click on the footer's text must start nothing.
    h.scan({usb_stick(10), usb_stick(11), usb_stick(12), usb_stick(13)});
    h.pick_and_accept();
    h.scan({usb_stick(10), usb_stick(11), usb_stick(12), usb_stick(13)});
    ui().select_drive(10);
    ASSERT_EQ(s().phase, AppPhase::DeviceReady);
    h.click_at(100, 700);
    h.click_at(300, 690);
    EXPECT_EQ(s().phase, AppPhase::DeviceReady);
    EXPECT_EQ(s().overlay, Overlay::None);
    // Each region lies where it can be seen: the scrolled ones in the
    // scrolled area, none of them under the main button or the footer.
    for (const auto& r : s().last_frame.regions) {
        if (r.rect.w == 0) continue;  // wholly out of sight
        EXPECT_GE(r.rect.y, 0) << action_name(r.id.kind);
        EXPECT_LE(r.rect.bottom(), kContentBottom) << action_name(r.id.kind);
        if (r.id.kind != UiAction::Create && r.id.kind != UiAction::TogglePanel) {
            EXPECT_LE(r.rect.bottom(), s().geometry.viewport.bottom()) << action_name(r.id.kind);
        }
    }
    ASSERT_TRUE(h.click(UiAction::Create));
    EXPECT_EQ(s().phase, AppPhase::Confirming);
}

TEST_F(UiController, TabAndArrowsScrollTheFocusedElementIntoSight) {
    to_many_drives();
    // The last sticks' rows lie below the scrolled area.
    const HitRegion* last = test::find_region(s(), UiAction::SelectDrive, 16);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->rect.h, 0);
    EXPECT_GT(last->whole.y, s().geometry.viewport.bottom());
    // Tab from "Check drive" through the rows: each one comes into sight.
    s().input.focus = {UiAction::CheckDrive};
    for (uint32_t n = 10; n < 17; ++n) {
        ui().key_down(Key::Tab, false);
        ASSERT_EQ(s().input.focus, (ElementId{UiAction::SelectDrive, n}));
        h.frame();
        const HitRegion* row = test::find_region(s(), UiAction::SelectDrive, n);
        ASSERT_TRUE(row);
        EXPECT_EQ(row->rect, row->whole) << "row of disk " << n;
    }
    EXPECT_GT(s().geometry.scroll, 0);
    // Back at the top, the arrow key wraps to the last row and brings it up.
    ui().wheel(1200);
    h.frame();
    ASSERT_EQ(test::find_region(s(), UiAction::SelectDrive, 16)->rect.h, 0);
    ui().key_down(Key::Up, false);  // from 10, the chosen one
    EXPECT_EQ(s().drives.selected->number, 16u);
    h.frame();
    const HitRegion* last_row = test::find_region(s(), UiAction::SelectDrive, 16);
    EXPECT_EQ(last_row->rect, last_row->whole);
    // Shift+Tab back up to "Select ISO", past the rows, "Check drive",
    // "Restore drive" and "Download".
    for (int i = 0; i < 10; ++i) {
        ui().key_down(Key::Tab, true);
        h.frame();
    }
    const HitRegion* select = test::find_region(s(), UiAction::SelectImage);
    EXPECT_EQ(s().input.focus.kind, UiAction::SelectImage);
    EXPECT_EQ(select->rect, select->whole);
}

TEST_F(UiController, TabOrderWrapsAndEnterActs) {
    to_device_ready();
    h.frame();
    std::vector<ElementId> order;
    for (const auto& r : s().last_frame.regions)
        if (r.enabled) order.push_back(r.id);
    ASSERT_GE(order.size(), 4u);
    ui().key_down(Key::Tab, true);  // no focus: Shift+Tab takes the last
    EXPECT_EQ(s().input.focus.kind, order.back().kind);
    EXPECT_TRUE(s().input.focus_visible);
    ui().key_down(Key::Tab, false);  // and wraps to the first
    EXPECT_EQ(s().input.focus.kind, order.front().kind);
    ui().key_down(Key::Tab, false);
    EXPECT_EQ(s().input.focus.kind, order[1].kind);
    ui().key_down(Key::Tab, true);
    ui().key_down(Key::Tab, true);
    EXPECT_EQ(s().input.focus.kind, order.back().kind);
    // The last enabled element is the main button: Enter presses it.
    EXPECT_EQ(s().input.focus.kind, UiAction::Create);
    ui().key_down(Key::Space, false);
    EXPECT_EQ(s().phase, AppPhase::Confirming);
    EXPECT_EQ(s().input.focus.kind, UiAction::DismissErase);
    ui().key_down(Key::Escape, false);
    EXPECT_EQ(s().phase, AppPhase::DeviceReady);
    EXPECT_EQ(s().overlay, Overlay::None);
    EXPECT_TRUE(s().input.focus.is_none());
}

TEST_F(UiController, ArrowKeysSkipRefusedDrives) {
    SystemFacts facts;
    facts.boot_volume = std::vector<uint32_t>{11};
    h.scan({usb_stick(10), usb_stick(11), usb_stick(12, 0), usb_stick(13)}, facts);
    EXPECT_FALSE(s().drives.selected);  // two offered: no automatic choice
    ui().key_down(Key::Down, false);
    EXPECT_EQ(s().drives.selected->number, 10u);
    EXPECT_EQ(s().input.focus, (ElementId{UiAction::SelectDrive, 10}));
    ui().key_down(Key::Down, false);
    EXPECT_EQ(s().drives.selected->number, 13u);
    ui().key_down(Key::Down, false);
    EXPECT_EQ(s().drives.selected->number, 10u);
    ui().key_down(Key::Up, false);
    EXPECT_EQ(s().drives.selected->number, 13u);
    // Refused rows are not regions: a click on one selects nothing.
    h.frame();
    EXPECT_FALSE(test::find_region(s(), UiAction::SelectDrive, 11));
    EXPECT_TRUE(test::find_region(s(), UiAction::SelectDrive, 13));
    ui().select_drive(11);
    EXPECT_EQ(s().drives.selected->number, 13u);
    EXPECT_TRUE(test::has_text(h.canvas, "Protected · system drive"));
    EXPECT_TRUE(test::has_text(h.canvas, "No media"));
}

TEST_F(UiController, AnimationTimerRunsExactlyWhileNeeded) {
    h.frame();
    EXPECT_FALSE(h.host.timer_running(TimerId::Animation));
    ASSERT_TRUE(h.click(UiAction::TogglePanel));
    EXPECT_TRUE(h.host.timer_running(TimerId::Animation));  // the overlay fades in
    h.advance(200ms);
    EXPECT_FALSE(h.host.timer_running(TimerId::Animation));
    // A hover fades in and out.
    ui().key_down(Key::Escape, false);
    h.frame();
    const HitRegion* r = test::find_region(s(), UiAction::SelectImage);
    ui().mouse_move(static_cast<int>(r->rect.x + 2), static_cast<int>(r->rect.y + 2));
    EXPECT_TRUE(h.host.timer_running(TimerId::Animation));
    h.advance(60ms);
    EXPECT_GT(hover_value(s(), {UiAction::SelectImage}, ui().now()), 0.2f);
    h.advance(100ms);
    EXPECT_FALSE(h.host.timer_running(TimerId::Animation));
    ui().mouse_leave();
    EXPECT_TRUE(h.host.timer_running(TimerId::Animation));
    h.advance(200ms);
    EXPECT_FALSE(h.host.timer_running(TimerId::Animation));
    EXPECT_FLOAT_EQ(hover_value(s(), {UiAction::SelectImage}, ui().now()), 0);
    // Busy phases keep frames coming.
    h.ui.picker_result("/tmp/a.iso");
    EXPECT_TRUE(h.host.timer_running(TimerId::Animation));
    h.advance(500ms);
    EXPECT_TRUE(h.host.timer_running(TimerId::Animation));
    EXPECT_EQ(h.host.count("set_timer 1 16"), 4u);  // never twice while running
}

TEST_F(UiController, DownloadActionAndResults) {
    test::TempDir dir;
    h.host.downloads = dir.path();
    ASSERT_TRUE(h.click(UiAction::DownloadLatest));
    EXPECT_EQ(s().phase, AppPhase::Downloading);
    ASSERT_EQ(h.workers.downloads.size(), 1u);
    EXPECT_EQ(h.workers.downloads[0], dir.path());
    EXPECT_EQ(h.host.taskbar_state, TaskbarState::Indeterminate);
    EXPECT_TRUE(test::has_text(h.canvas, "Connecting…"));
    h.workers.download_progress->total = 100;
    h.workers.download_progress->retry = 2;
    h.frame();
    EXPECT_TRUE(test::has_text(h.canvas, "Connection lost. Retrying (2 of 4)…"));
    ASSERT_TRUE(h.click(UiAction::StopDownload));
    EXPECT_TRUE(h.workers.download_stop->load());
    h.send(DownloadFinishedMessage{unexpected(DownloadError{DownloadError::Kind::Failed, "x"})});
    EXPECT_EQ(s().phase, AppPhase::Idle);
    EXPECT_TRUE(test::has_text(h.canvas, "The download did not complete."));
    // A finished download is validated with its digest.
    ASSERT_TRUE(h.click(UiAction::DownloadLatest));
    Sha256Digest digest{};
    digest[0] = 7;
    h.send(DownloadFinishedMessage{DownloadedImage{dir.path() / "x.iso", digest}});
    EXPECT_EQ(s().phase, AppPhase::ValidatingImage);
    ASSERT_EQ(h.workers.validations.size(), 1u);
    EXPECT_EQ(h.workers.validations[0].download_digest, digest);
}

TEST_F(UiController, FailedDownloadSaysWhatWentWrong) {
    test::TempDir dir;
    h.host.downloads = dir.path();
    struct Case {
        DownloadError error;
        const char* title;
        const char* hint;
    };
    for (const Case& c : {
             Case{{DownloadError::Kind::Failed, "network: reset"},
                  "The download did not complete.",
                  "Check your internet connection and try again."},
             // It arrived whole, but is not the signed image.
             Case{{DownloadError::Kind::Corrupted, ""},
                  "No image selected",
                  "This image is damaged. Download it again."},
             Case{{DownloadError::Kind::TooLarge, ""},
                  "The download did not complete.",
                  "The file is larger than any Ortivex image."},
             Case{{DownloadError::Kind::NoSpace, ""},
                  "The download did not complete.",
                  "Not enough free space in the Downloads folder."},
         }) {
        SCOPED_TRACE(c.error.describe());
        ASSERT_TRUE(h.click(UiAction::DownloadLatest));
        h.send(DownloadFinishedMessage{unexpected(c.error)});
        EXPECT_EQ(s().phase, AppPhase::Idle);
        EXPECT_TRUE(test::has_text(h.canvas, c.title));
        EXPECT_TRUE(test::has_text(h.canvas, c.hint));
        for (const char* other :
             {"The download did not complete.", "Check your internet connection and try again.",
              "This image is damaged. Download it again."})
            if (std::string_view(other) != c.title && std::string_view(other) != c.hint) {
                EXPECT_FALSE(test::has_text(h.canvas, other)) << other;
            }
    }
}

TEST_F(UiController, UpdateNoticeOpensOnlySecureAddresses) {
    h.send(UpdateNoticeMessage{"1.4.0", "https://localhost/x.exe"});
    EXPECT_TRUE(test::has_text(h.canvas, "Stickwright 1.4.0 is available."));
    ASSERT_TRUE(h.click(UiAction::OpenUpdate));
    EXPECT_EQ(h.host.count("open https://localhost/x.exe"), 1u);
    h.send(UpdateNoticeMessage{"1.4.1", "file:///c:/evil.exe"});
    ASSERT_TRUE(h.click(UiAction::OpenUpdate));
    EXPECT_EQ(h.host.count("open file:///c:/evil.exe"), 0u);
}

TEST_F(UiController, FirstFrameIsLoggedOnce) {
    h.ui.paint(h.canvas, 420);
    h.ui.paint(h.canvas, 500);
    EXPECT_EQ(log.matching("first frame 420 ms after process start").size(), 1u);
    EXPECT_EQ(log.matching("first frame").size(), 1u);
}

}  // namespace
}  // namespace sw

namespace sw {
namespace {

TEST(UiUnelevated, OpensOnTheFailedScreenThatAsksForAdministratorRights) {
    UiHarness h;
    h.ui.start();
    h.ui.show_unelevated();
    EXPECT_EQ(h.s().phase, AppPhase::Failed);
    EXPECT_EQ(h.s().screen, ScreenKind::Failed);
    h.frame();
    EXPECT_TRUE(test::has_text(h.canvas, "Administrator permission is required."));
    EXPECT_TRUE(
        test::has_text(h.canvas, "Run Ortivex Stickwright again and accept the Windows prompt."));
    EXPECT_NE(h.ui.failure_details_text().find("process token is not elevated"), std::string::npos);
}

}  // namespace
}  // namespace sw

namespace sw {
namespace {

class UiCard : public ::testing::Test {
  protected:
    test::LogCapture log;
    UiHarness h;
    WindowState& s() { return h.s(); }
};

TEST_F(UiCard, TheImageCardTellsWhatHappenedLast) {
    test::TempDir dir;
    h.host.downloads = dir.path();
    ASSERT_TRUE(h.click(UiAction::DownloadLatest));
    h.send(DownloadFinishedMessage{unexpected(DownloadError{DownloadError::Kind::Failed, "x"})});
    ASSERT_TRUE(test::has_text(h.canvas, "The download did not complete."));
    // A pick after the failed download is refused: the refusal is what shows.
    h.ui.picker_result("/tmp/a.iso");
    h.send(ImageInspected{s().image.request, "/tmp/a.iso",
                          unexpected(ValidationError::of(ValidationError::Kind::NotIso))});
    EXPECT_TRUE(test::has_text(h.canvas, "This file is not a disk image."));
    EXPECT_FALSE(test::has_text(h.canvas, "The download did not complete."));
    EXPECT_FALSE(test::has_text(h.canvas, "Check your internet connection and try again."));
    // And a download failing after the refusal shows the download's failure.
    ASSERT_TRUE(h.click(UiAction::DownloadLatest));
    h.send(DownloadFinishedMessage{unexpected(DownloadError{DownloadError::Kind::Failed, "y"})});
    EXPECT_TRUE(test::has_text(h.canvas, "The download did not complete."));
    EXPECT_FALSE(test::has_text(h.canvas, "This file is not a disk image."));
}

TEST_F(UiCard, AnUnelevatedProcessShowsItsDetailTextAsItIs) {
    h.ui.show_unelevated();
    ASSERT_TRUE(h.click(UiAction::ToggleDetails));
    EXPECT_TRUE(test::has_text(h.canvas, "Administrator permission is required."));
    const DrawOp* details = test::find_text(h.canvas, "process token is not elevated");
    ASSERT_TRUE(details);
    EXPECT_EQ(details->text, "process token is not elevated");
    ASSERT_TRUE(h.click(UiAction::CopyDetails));
    auto file = Logger::current_file();
    EXPECT_EQ(h.host.clipboard,
              "Administrator permission is required.\nRun Ortivex Stickwright again and accept the "
              "Windows prompt.\n\nprocess token is not elevated\n\nlog: " +
                  (file ? file->string() : std::string()));
}

TEST_F(UiCard, TheTaskbarShowsAValueFromTheFirstTickOfAWrite) {
    h.scan({usb_stick(10)});
    h.pick_and_accept();
    h.scan({usb_stick(10)});
    ASSERT_TRUE(h.click(UiAction::Create));
    ASSERT_TRUE(h.click(UiAction::AcceptErase));
    ASSERT_EQ(s().phase, AppPhase::Preparing);
    h.advance(20ms);
    EXPECT_EQ(h.host.taskbar_state, TaskbarState::Normal);
    EXPECT_EQ(h.host.taskbar_value, 0u);
}

TEST_F(UiCard, TheUpdateNoticeIsPartOfTheSetupScreenOnly) {
    h.scan({usb_stick(10)});
    h.send(UpdateNoticeMessage{"1.4.0", "https://localhost/x.exe"});
    ASSERT_TRUE(test::has_text(h.canvas, "Stickwright 1.4.0 is available."));
    ASSERT_TRUE(test::find_region(s(), UiAction::OpenUpdate));
    h.pick_and_accept();
    h.scan({usb_stick(10)});
    ASSERT_TRUE(h.click(UiAction::Create));
    ASSERT_TRUE(h.click(UiAction::AcceptErase));
    // Fading out with the setup screen; once the progress screen is shown,
    // gone, and nothing to press.
    EXPECT_FALSE(test::find_region(s(), UiAction::OpenUpdate));
    h.advance(400ms);
    EXPECT_EQ(s().screen, ScreenKind::Progress);
    EXPECT_FALSE(test::has_text(h.canvas, "Stickwright 1.4.0 is available."));
    EXPECT_FALSE(test::has_text(h.canvas, "Download"));
    EXPECT_FALSE(test::find_region(s(), UiAction::OpenUpdate));
}

TEST_F(UiCard, CreateWaitsForTheScanThatChecksTheDrivesAgainstTheAcceptedImage) {
    SystemFacts holds;
    holds.image = std::vector<uint32_t>{10};
    // The stick holds the image: the scan after the acceptance refuses it.
    h.scan({usb_stick(10)});
    h.pick_and_accept();
    ASSERT_EQ(s().phase, AppPhase::DeviceReady);
    h.frame();
    EXPECT_FALSE(test::find_region(s(), UiAction::Create)->enabled);
    EXPECT_TRUE(h.click(UiAction::Create));
    EXPECT_EQ(s().phase, AppPhase::DeviceReady);
    EXPECT_EQ(s().overlay, Overlay::None);
    h.scan({usb_stick(10)}, holds);
    EXPECT_EQ(s().phase, AppPhase::ImageReady);
    EXPECT_TRUE(test::has_text(h.canvas, "Protected · holds the selected image"));

    // A scan that started before the acceptance does not count.
    UiHarness g;
    g.ui.request_scan();
    g.ui.picker_result("/tmp/image.iso");
    g.send(ImageInspected{g.s().image.request, "/tmp/image.iso", test::unsigned_inspection()});
    g.scan({usb_stick(10)});  // knew nothing of the image, but the stick is chosen
    ASSERT_EQ(g.s().phase, AppPhase::DeviceReady);
    ASSERT_EQ(g.workers.scans.size(), 2u);  // the one the acceptance asked for runs now
    EXPECT_FALSE(test::find_region(g.s(), UiAction::Create)->enabled);
    g.scan({usb_stick(10)});
    EXPECT_TRUE(test::find_region(g.s(), UiAction::Create)->enabled);
}

}  // namespace
}  // namespace sw
