// Restoring a drive through the window's logic, with fake workers: when the
// action is offered, its confirmation, the job's phases, its three ends, and
// closing and the end of the session while it runs.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/log_capture.h"
#include "support/ui_harness.h"
#include "ui/announcements.h"

namespace sw {
namespace {

using namespace std::chrono_literals;
using test::UiHarness;
using test::usb_stick;

constexpr uint64_t GB = 1'000'000'000;

class UiRestore : public ::testing::Test {
  protected:
    test::LogCapture log;
    UiHarness h;
    WindowState& s() { return h.s(); }
    WindowController& ui() { return h.ui; }
    bool enabled() { return action_enabled(s(), ElementId{UiAction::RestoreDrive}); }

    // One stick, chosen for the operator; no image.
    void one_stick(uint64_t size = 16 * GB) {
        h.scan({usb_stick(10, size)});
        ASSERT_TRUE(s().drives.selected);
        ASSERT_EQ(s().phase, AppPhase::Idle);
    }
    // From the chosen stick to a running restore, through the confirmation.
    void to_restoring(uint64_t size = 16 * GB) {
        one_stick(size);
        ASSERT_TRUE(h.click(UiAction::RestoreDrive));
        ASSERT_EQ(s().overlay, Overlay::RestoreConfirm);
        ASSERT_TRUE(h.click(UiAction::AcceptRestore));
        ASSERT_EQ(s().phase, AppPhase::Preparing);
        ASSERT_EQ(h.workers.restores.size(), 1u);
    }
    RestoreFinished restored_ok() {
        RestoreReport r;
        r.fs = format::FileSystem::ExFat;
        r.cluster_bytes = 128 * 1024;
        r.capacity_bytes = 64'023'248'896;  // 59.6 GiB
        return RestoreFinished{r};
    }
    bool announced(std::string_view text) {
        const auto& a = h.host.announced;
        return std::find(a.begin(), a.end(), text) != a.end();
    }
};

TEST_F(UiRestore, OfferedForAChosenDriveWithOrWithoutAnImageButNeverForARefusedOne) {
    EXPECT_FALSE(enabled());     // no drive
    h.scan({usb_stick(10, 0)});  // no medium: refused, so never chosen
    EXPECT_FALSE(s().drives.selected);
    EXPECT_FALSE(enabled());
    ASSERT_TRUE(h.click(UiAction::RestoreDrive));  // drawn, but nothing happens
    EXPECT_EQ(s().overlay, Overlay::None);
    ui().invoke({UiAction::RestoreDrive});
    EXPECT_EQ(s().overlay, Overlay::None);

    // A drive that holds the system is refused as for a write.
    SystemFacts facts;
    facts.boot_volume = std::vector<uint32_t>{10};
    h.scan({usb_stick(10)}, facts);
    EXPECT_FALSE(s().drives.selected);
    EXPECT_FALSE(enabled());

    h.scan({usb_stick(10)});
    EXPECT_TRUE(enabled());  // no image needed
    h.pick_and_accept();
    h.scan({usb_stick(10)});
    ASSERT_EQ(s().phase, AppPhase::DeviceReady);
    EXPECT_TRUE(enabled());
    s().overlay = Overlay::Appearance;
    EXPECT_FALSE(enabled());
    s().overlay = Overlay::None;
    s().drive_check.running = true;
    EXPECT_FALSE(enabled());
    s().drive_check.running = false;
    // While an image is validated, as for "Check drive".
    h.ui.picker_result("/tmp/other.iso");
    EXPECT_EQ(s().phase, AppPhase::ValidatingImage);
    EXPECT_FALSE(enabled());
    EXPECT_TRUE(h.workers.restores.empty());
}

TEST_F(UiRestore, TheConfirmationNamesTheDriveAndTheFileSystemItWillGet) {
    one_stick(16 * GB);
    ASSERT_TRUE(h.click(UiAction::RestoreDrive));
    EXPECT_EQ(s().input.focus.kind, UiAction::DismissRestore);  // "Cancel" has the focus
    h.frame();
    EXPECT_TRUE(test::has_text(h.canvas, "Restore Disk 10 Ortivex Stick 10?"));
    EXPECT_TRUE(test::has_text(h.canvas, "Everything on this drive will be permanently erased."));
    EXPECT_TRUE(test::has_text(h.canvas, "one empty FAT32 partition"));
    EXPECT_TRUE(test::has_text(h.canvas, "Erase & Restore"));
    // A screen reader finds the dialog by the question.
    const A11yTree& tree = s().last_frame.a11y;
    EXPECT_TRUE(tree.modal);
    EXPECT_TRUE(std::any_of(tree.nodes.begin(), tree.nodes.end(), [](const A11yNode& n) {
        return n.role == A11yRole::Dialog && n.name == "Restore Disk 10 Ortivex Stick 10?";
    }));
    h.click(UiAction::DismissRestore);

    // Above 32 GiB the drive gets exFAT.
    h.scan({usb_stick(11, 64 * GB)});
    ASSERT_TRUE(h.click(UiAction::RestoreDrive));
    h.frame();
    EXPECT_TRUE(test::has_text(h.canvas, "one empty exFAT partition"));
    EXPECT_FALSE(test::has_text(h.canvas, "FAT32"));
}

TEST_F(UiRestore, CancelEscapeAndEnterOnCancelDoNothing) {
    one_stick();
    ASSERT_TRUE(h.click(UiAction::RestoreDrive));
    ASSERT_TRUE(h.click(UiAction::DismissRestore));
    EXPECT_EQ(s().overlay, Overlay::None);
    ASSERT_TRUE(h.click(UiAction::RestoreDrive));
    ui().key_down(Key::Escape, false);
    EXPECT_EQ(s().overlay, Overlay::None);
    ASSERT_TRUE(h.click(UiAction::RestoreDrive));
    ui().key_down(Key::Enter, false);  // on "Cancel"
    EXPECT_EQ(s().overlay, Overlay::None);
    EXPECT_EQ(s().phase, AppPhase::Idle);
    EXPECT_TRUE(h.workers.restores.empty());
    EXPECT_FALSE(h.host.shutdown_blocked);
    // While the confirmation is open, the choice of drive stays as it is.
    h.scan({usb_stick(10), usb_stick(12)});
    ASSERT_TRUE(h.click(UiAction::RestoreDrive));
    ui().select_drive(12);
    EXPECT_EQ(s().drives.selected->number, 10u);
}

TEST_F(UiRestore, ConfirmedRestoreRunsThroughItsPhasesToTheResult) {
    to_restoring(64 * GB);
    EXPECT_EQ(h.workers.restores[0].serial, "S10");
    EXPECT_TRUE(h.workers.writes.empty());
    EXPECT_EQ(log.matching("restore confirmed: disk 10 Ortivex Stick 10").size(), 1u);
    EXPECT_EQ(log.matching("state Idle --RestoreAccepted--> Preparing").size(), 1u);
    EXPECT_TRUE(h.host.shutdown_blocked);
    EXPECT_EQ(h.host.count("block_shutdown A USB drive is being restored."), 1u);
    h.frame();
    EXPECT_TRUE(test::has_text(h.canvas, "Restoring the USB drive"));
    EXPECT_FALSE(test::has_text(h.canvas, "Creating Ortivex Installation Media"));

    h.workers.write->progress->set(1'000'000, 4'000'000, WritePhase::Writing);
    h.advance(20ms);
    ASSERT_EQ(s().phase, AppPhase::Writing);
    h.frame();
    EXPECT_TRUE(test::has_text(h.canvas, "Creating the file system"));
    EXPECT_FALSE(test::has_text(h.canvas, "boot area"));  // no image file is written
    EXPECT_TRUE(announced("Creating the file system"));
    h.workers.write->progress->set(0, 4'000'000, WritePhase::Verifying);
    h.advance(20ms);
    ASSERT_EQ(s().phase, AppPhase::Verifying);
    h.frame();
    EXPECT_TRUE(test::has_text(h.canvas, "Checking what was written"));
    h.workers.write->progress->set(0, 0, WritePhase::Finishing);
    h.advance(20ms);
    h.frame();
    EXPECT_TRUE(test::has_text(h.canvas, "Finishing"));
    EXPECT_FALSE(test::has_text(h.canvas, "Ejecting"));

    h.send(restored_ok());
    ASSERT_EQ(s().phase, AppPhase::Complete);
    EXPECT_FALSE(h.host.shutdown_blocked);
    EXPECT_EQ(h.host.taskbar_state, TaskbarState::None);
    EXPECT_TRUE(test::has_text(h.canvas, "The drive is restored."));
    EXPECT_TRUE(test::has_text(
        h.canvas, "It now has one empty partition: exFAT, 128 KiB clusters, 59.6 GiB"));
    EXPECT_TRUE(test::has_text(h.canvas, "You can use the drive now, or safely remove it."));
    EXPECT_FALSE(test::has_text(h.canvas, "Ortivex is ready."));
    EXPECT_TRUE(announced("The drive is restored."));
    EXPECT_EQ(log.matching("restored: exFAT, 128 KiB clusters, 59.6 GiB").size(), 1u);

    // Ejected from the result screen, it says so.
    ASSERT_TRUE(h.click(UiAction::Eject));
    ASSERT_EQ(h.workers.ejects, std::vector<uint32_t>{10});
    h.send(EjectFinished{EjectOutcome{}});
    EXPECT_TRUE(test::has_text(h.canvas, "You can safely remove the USB drive."));

    size_t scans = h.workers.scans.size();
    ASSERT_TRUE(h.click(UiAction::Done));
    EXPECT_EQ(s().phase, AppPhase::Idle);
    EXPECT_FALSE(s().write.restore);
    EXPECT_EQ(h.workers.scans.size(), scans + 1);
}

TEST_F(UiRestore, ClosingAndTheEndOfTheSessionAreRefusedWhileItRuns) {
    to_restoring();
    EXPECT_FALSE(ui().query_end_session());
    ui().close();
    EXPECT_FALSE(h.host.destroyed);
    EXPECT_EQ(s().overlay, Overlay::CloseRefused);
    h.frame();
    EXPECT_TRUE(test::has_text(h.canvas, "A USB drive is being restored."));
    ui().key_down(Key::Enter, false);
    EXPECT_EQ(s().overlay, Overlay::None);
    EXPECT_EQ(s().phase, AppPhase::Preparing);
    // Its end lets the window go.
    h.send(restored_ok());
    EXPECT_TRUE(ui().query_end_session());
    ui().close();
    EXPECT_TRUE(h.host.destroyed);
}

TEST_F(UiRestore, AFailedRestoreShowsTheJobsErrorOnTheFailureScreen) {
    to_restoring();
    h.workers.write->progress->set(65536, 4'000'000, WritePhase::Writing);
    h.advance(20ms);
    const JobError error = JobError::of_pipeline(
        PipelineError::of(PipelineError::Kind::DeviceWrite, "I/O error (os error 5)"));
    h.send(RestoreFinished{unexpected(error)});
    ASSERT_EQ(s().phase, AppPhase::Failed);
    EXPECT_FALSE(h.host.shutdown_blocked);
    EXPECT_TRUE(test::has_text(h.canvas, "The USB drive stopped accepting data."));
    EXPECT_TRUE(test::has_text(h.canvas, "Try another USB port or another drive."));
    EXPECT_TRUE(announced("The USB drive stopped accepting data."));
    ASSERT_TRUE(h.click(UiAction::CopyDetails));
    EXPECT_NE(h.host.clipboard.find("device write failed: I/O error (os error 5)"),
              std::string::npos)
        << h.host.clipboard;
    ASSERT_TRUE(h.click(UiAction::TryAgain));
    EXPECT_EQ(s().phase, AppPhase::Idle);
}

TEST_F(UiRestore, StoppedRestoreEndsCancelledWithItsOwnAdvice) {
    to_restoring();
    h.workers.write->progress->set(65536, 4'000'000, WritePhase::Writing);
    h.advance(20ms);
    ASSERT_TRUE(h.click(UiAction::StopWrite));
    ASSERT_TRUE(h.click(UiAction::ConfirmStop));
    EXPECT_TRUE(h.workers.write->stop->load());
    h.send(RestoreFinished{
        unexpected(JobError::of_pipeline(PipelineError::of(PipelineError::Kind::Cancelled)))});
    ASSERT_EQ(s().phase, AppPhase::Cancelled);
    EXPECT_TRUE(test::has_text(h.canvas, "Restore stopped."));
    EXPECT_TRUE(test::has_text(h.canvas, "Restore it again before using it."));
    EXPECT_FALSE(test::has_text(h.canvas, "USB creation stopped."));
}

TEST_F(UiRestore, ADriveGoneBeforeTheStartEndsFailedWithNothingStarted) {
    one_stick();
    ASSERT_TRUE(h.click(UiAction::RestoreDrive));
    h.workers.refuse_writes = true;  // the drive left the list the job checks
    ASSERT_TRUE(h.click(UiAction::AcceptRestore));
    EXPECT_EQ(s().phase, AppPhase::Failed);
    EXPECT_FALSE(h.host.shutdown_blocked);
    ASSERT_TRUE(s().write.failure);
    EXPECT_EQ(s().write.failure->kind, JobError::Kind::IdentityChanged);

    // Gone while the confirmation is open: it closes and nothing starts.
    h.click(UiAction::Done);
    h.workers.refuse_writes = false;
    h.scan({usb_stick(10)});
    ASSERT_TRUE(h.click(UiAction::RestoreDrive));
    h.scan({});
    EXPECT_EQ(s().overlay, Overlay::None);
    ui().invoke({UiAction::AcceptRestore});
    EXPECT_EQ(s().phase, AppPhase::Idle);
    EXPECT_EQ(h.workers.restores.size(), 1u);  // only the refused start above
}

TEST_F(UiRestore, AfterARestoreTheImageChosenBeforeIsTakenAgain) {
    h.scan({usb_stick(10)});
    h.pick_and_accept();
    h.scan({usb_stick(10)});
    ASSERT_EQ(s().phase, AppPhase::DeviceReady);
    ASSERT_TRUE(h.click(UiAction::RestoreDrive));
    ASSERT_TRUE(h.click(UiAction::AcceptRestore));
    EXPECT_EQ(log.matching("state DeviceReady --RestoreAccepted--> Preparing").size(), 1u);
    h.send(restored_ok());
    ASSERT_TRUE(h.click(UiAction::Done));
    EXPECT_EQ(s().phase, AppPhase::ValidatingImage);
    EXPECT_EQ(h.workers.validations.size(), 2u);
    // The next write is a write again.
    h.send(ImageInspected{s().image.request, "/tmp/image.iso", test::unsigned_inspection()});
    h.scan({usb_stick(10)});  // the scan Done started
    h.scan({usb_stick(10)});  // the one that checks the drive against the image
    ASSERT_TRUE(h.click(UiAction::Create));
    ASSERT_TRUE(h.click(UiAction::AcceptErase));
    EXPECT_FALSE(s().write.restore);
    h.frame();
    EXPECT_TRUE(test::has_text(h.canvas, "Creating Ortivex Installation Media"));
}

}  // namespace
}  // namespace sw
