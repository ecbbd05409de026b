// The window's handlers against what the system does around them: a window
// destroyed (with its controller) by the effect a handler carries out,
// messages that arrive from inside a call a handler makes, and animations
// whose frames come late.
#include <gtest/gtest.h>

#include "support/log_capture.h"
#include "support/temp_dir.h"
#include "support/ui_harness.h"
#include "ui/view.h"

namespace sw {
namespace {

using namespace std::chrono_literals;
using test::UiHarness;
using test::usb_stick;

// A controller owned by its window, as the real one is: destroying the
// window deletes it, inside the host's call.
struct OwnedWindow {
    test::FakeClock clock;
    test::FakeWindowHost host{clock};
    test::FakeUiWorkers workers;
    std::shared_ptr<MessageQueue> queue = std::make_shared<MessageQueue>();
    WindowController* ui = new WindowController(host, workers, queue, clock);
    RecordingCanvas canvas;

    OwnedWindow() {
        host.inside = [this](const std::string& call) {
            if (call != "destroy" || ui == nullptr) return;
            ui->destroy();  // WM_DESTROY
            delete ui;      // WM_NCDESTROY
            ui = nullptr;
        };
    }
    ~OwnedWindow() { delete ui; }

    // The failed screen, whose "Open log folder" hands a folder to the shell.
    void to_failed_screen(const std::filesystem::path& logs) {
        ui->state().log_folder = logs;
        ui->show_unelevated();
        ui->paint(canvas);
    }
    // While the shell opens something, the window is closed (WM_CLOSE handled
    // in the shell's own message loop).
    void close_inside_shell_calls() {
        host.inside = [this, destroy = host.inside](const std::string& call) {
            if (call.rfind("open ", 0) == 0 && ui != nullptr) ui->close();
            destroy(call);
        };
    }
};

// Under the address sanitizer a write into the freed controller fails these.
TEST(UiHandlers, ClosingDestroysTheControllerAndNothingTouchesItAfterwards) {
    OwnedWindow w;
    w.ui->start();
    w.ui->close();
    EXPECT_EQ(w.ui, nullptr);
    EXPECT_EQ(w.host.calls.back(), "destroy");
}

TEST(UiHandlers, AWindowClosedWhileAClickOrAKeyOpensTheLogFolderIsLeftAlone) {
    test::TempDir logs;
    for (bool by_key : {false, true}) {
        OwnedWindow w;
        w.to_failed_screen(logs.path());
        const HitRegion* r = test::find_region(w.ui->state(), UiAction::OpenLogFolder);
        ASSERT_TRUE(r);
        w.close_inside_shell_calls();
        if (by_key) {
            w.ui->state().input.focus = r->id;
            w.ui->key_down(Key::Enter, false);
        } else {
            int x = static_cast<int>(r->rect.x + 4), y = static_cast<int>(r->rect.y + 4);
            w.ui->button_down(x, y);
            w.ui->button_up(x, y);
        }
        EXPECT_EQ(w.ui, nullptr) << (by_key ? "Enter" : "click");
        EXPECT_EQ(w.host.count("destroy"), 1u);
    }
}

class UiLateMessages : public ::testing::Test {
  protected:
    test::LogCapture log;
    UiHarness h;
    WindowState& s() { return h.s(); }

    void to_writing() {
        h.scan({usb_stick(10)});
        h.pick_and_accept();
        h.scan({usb_stick(10)});
        ASSERT_TRUE(h.click(UiAction::Create));
        ASSERT_TRUE(h.click(UiAction::AcceptErase));
        h.workers.write->progress->set(1'000'000, 8'000'000, WritePhase::Writing);
        h.advance(20ms);
        ASSERT_EQ(s().phase, AppPhase::Writing);
    }
    static WriteFinished failed() {
        return WriteFinished{unexpected(JobError::of_pipeline(
            PipelineError::of(PipelineError::Kind::DeviceDisconnected, "gone")))};
    }
};

TEST_F(UiLateMessages, AWorkerMessageArrivingInsideAHandlerIsHandledWhenItReturns) {
    to_writing();
    // The taskbar call of the next tick lets the system run other messages:
    // the write's end arrives then.
    h.queue->send(failed());
    h.host.inside = [&](const std::string& call) {
        if (call == "taskbar") h.ui.worker_wake();
    };
    h.advance(16ms);
    h.host.inside = nullptr;
    EXPECT_EQ(s().phase, AppPhase::Failed);
}

TEST_F(UiLateMessages, APaintArrivingInsideAHandlerIsDrawnWhenItReturns) {
    h.frame();
    RecordingCanvas inner;
    h.host.inside = [&](const std::string& call) {
        if (call == "track_leave") h.ui.paint(inner);
    };
    h.ui.mouse_move(2, 700);  // over nothing: the hover stays none
    h.host.inside = nullptr;
    EXPECT_TRUE(inner.ops().empty());  // not drawn against a half-updated state
    EXPECT_TRUE(h.host.dirty);         // but asked for again
}

// The frames of a busy machine come late: the last frame drawn while an
// animation ran may be the last one it gets unless its timer waits for it.
TEST_F(UiLateMessages, ACrossFadeEndsOnItsFinalFrameHoweverLateItsFramesCome) {
    to_writing();
    h.frame();
    h.send(failed());  // drawn at once, the fade at its start
    ASSERT_EQ(s().phase, AppPhase::Failed);
    h.paints = false;
    h.advance(100ms);
    h.frame();  // halfway
    EXPECT_TRUE(test::has_text(h.canvas, "USB drive disconnected."));
    EXPECT_TRUE(test::has_text(h.canvas, "Creating Ortivex Installation Media"));
    // The ticks go on, but no frame comes until the fade's time is over (that
    // frame took long to show, or the paints were held up).
    h.advance(300ms);
    EXPECT_TRUE(h.host.timer_running(TimerId::Animation));
    h.paints = true;
    h.advance(16ms);  // the tick, and the frame after it
    EXPECT_FALSE(h.host.timer_running(TimerId::Animation));
    EXPECT_TRUE(test::has_text(h.canvas, "USB drive disconnected."));
    EXPECT_FALSE(test::has_text(h.canvas, "Creating Ortivex Installation Media"));
}

TEST_F(UiLateMessages, OverlayFadeSwitchAndHoverEachGetTheirFinalFrame) {
    h.scan({usb_stick(10)});
    h.frame();
    const HitRegion* select = test::find_region(s(), UiAction::SelectImage);
    ASSERT_TRUE(select);
    const int sx = static_cast<int>(select->rect.x + 2), sy = static_cast<int>(select->rect.y + 2);
    std::vector<std::pair<const char*, std::function<void()>>> starts = {
        {"overlay", [&] { h.ui.open_overlay(Overlay::Appearance); }},
        {"switch", [&] { h.ui.perform_action({UiAction::ToggleVerify}); }},
        {"hover", [&] { h.ui.mouse_move(sx, sy); }},
    };
    for (auto& [name, start] : starts) {
        h.ui.close_overlay();
        h.advance(1000ms);
        ASSERT_FALSE(h.host.timer_running(TimerId::Animation)) << name;
        start();
        h.frame();  // at the animation's start
        h.paints = false;
        h.advance(1000ms);
        EXPECT_TRUE(h.host.timer_running(TimerId::Animation)) << name;
        h.paints = true;
        h.advance(16ms);
        EXPECT_FALSE(h.host.timer_running(TimerId::Animation)) << name;
        // The last frame drawn shows the animation at its end.
        EXPECT_FALSE(h.ui.animation_needed()) << name;
    }
    EXPECT_FLOAT_EQ(hover_value(s(), {UiAction::SelectImage}, s().last_frame.drawn_at), 1);
}

TEST_F(UiLateMessages, TheScreenFadingOutIsDrawnAsItWasNotAsTheNewPhaseWouldDrawIt) {
    to_writing();
    h.frame();
    ASSERT_TRUE(test::has_text(h.canvas, "Writing Ortivex"));
    h.send(failed());
    h.clock.advance(100ms);
    h.frame();
    // The progress screen as it was: writing, step 2 current, not a screen
    // that claims to be ejecting with every step done.
    EXPECT_TRUE(test::has_text(h.canvas, "Writing Ortivex"));
    EXPECT_FALSE(test::has_text(h.canvas, "Ejecting"));
    EXPECT_TRUE(test::has_text(h.canvas, "Writing boot area"));
    EXPECT_TRUE(test::has_text(h.canvas, "USB drive disconnected."));
    // Under the new screen's regions only.
    EXPECT_FALSE(test::find_region(s(), UiAction::StopWrite));
    EXPECT_TRUE(test::find_region(s(), UiAction::TryAgain));
}

}  // namespace
}  // namespace sw
