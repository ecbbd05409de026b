// What a screen reader is told without the user acting, through the fake
// host: each event once however many frames and ticks show it, progress at
// most once per tenth, in the window's language; and the settings people set
// for themselves: no animations, a focus ring seen in every theme.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "support/log_capture.h"
#include "support/ui_harness.h"
#include "ui/view.h"

namespace sw {
namespace {

using namespace std::chrono_literals;
using test::UiHarness;
using test::usb_stick;

class UiAnnouncements : public ::testing::Test {
  protected:
    test::LogCapture log;
    UiHarness h;
    WindowState& s() { return h.s(); }
    std::vector<std::string>& said() { return h.host.announced; }

    // Whatever was said so far, forgotten.
    void hush() { said().clear(); }
    void to_device_ready() {
        h.scan({usb_stick(10)});
        h.pick_and_accept();
        h.scan({usb_stick(10)});
        ASSERT_EQ(s().phase, AppPhase::DeviceReady);
    }
    void start_write() {
        to_device_ready();
        ASSERT_TRUE(h.click(UiAction::Create));
        ASSERT_TRUE(h.click(UiAction::AcceptErase));
        ASSERT_EQ(s().phase, AppPhase::Preparing);
    }
    void progress(uint64_t done, uint64_t total, WritePhase phase) {
        h.workers.write->progress->set(done, total, phase);
        h.advance(40ms);
    }
    WriteFinished finished_ok() {
        WriteReport report;
        report.pipeline.write_seconds = 2;
        report.pipeline.verify_seconds = 1;
        report.pipeline.verified = true;
        return WriteFinished{report};
    }
};

TEST_F(UiAnnouncements, EachVerdictOnceForItsImage) {
    h.scan({});
    h.pick_and_accept();
    EXPECT_EQ(said(), std::vector<std::string>{"Unverified image"});
    // Frames, ticks and other handlers say nothing more.
    h.advance(500ms);
    h.frame();
    h.scan({});
    EXPECT_EQ(said().size(), 1u);

    // The next image: a signed one, said when its content check passes.
    hush();
    h.ui.picker_result("/tmp/b.iso");
    ImageInspection signed_one = test::unsigned_inspection();
    signed_one.manifest = MediaManifest{};
    h.send(ImageInspected{s().image.request, "/tmp/b.iso", signed_one});
    EXPECT_TRUE(said().empty()) << said()[0];
    h.send(ImageContentChecked{s().image.request, "/tmp/b.iso", {}});
    EXPECT_EQ(said(), std::vector<std::string>{"Official VOSKET Image"});

    // A refusal is said by what the card shows.
    hush();
    h.ui.picker_result("/tmp/c.iso");
    h.send(ImageInspected{s().image.request, "/tmp/c.iso",
                          unexpected(ValidationError::of(ValidationError::Kind::NotIso))});
    EXPECT_EQ(said(), std::vector<std::string>{"This file is not a disk image."});
    h.advance(200ms);
    EXPECT_EQ(said().size(), 1u);
    // The same refusal for another pick is another event.
    h.ui.picker_result("/tmp/c.iso");
    h.send(ImageInspected{s().image.request, "/tmp/c.iso",
                          unexpected(ValidationError::of(ValidationError::Kind::NotIso))});
    EXPECT_EQ(said().size(), 2u);
}

TEST_F(UiAnnouncements, DrivesArrivingAndLeavingAfterTheFirstScan) {
    // The first scan tells what is there, not what arrived.
    h.scan({usb_stick(10)});
    EXPECT_TRUE(said().empty());
    h.scan({usb_stick(10), usb_stick(11)});
    EXPECT_EQ(said(), std::vector<std::string>{"Ortivex Stick 11 connected"});
    h.scan({usb_stick(10), usb_stick(11)});
    EXPECT_EQ(said().size(), 1u);
    hush();
    // Another stick under the same disk number has left and arrived.
    h.scan({usb_stick(11), usb_stick(10, 16'000'000'000, "OTHER")});
    EXPECT_EQ(said(),
              (std::vector<std::string>{"Ortivex Stick 10 removed", "Ortivex Stick 10 connected"}));
    hush();
    h.scan({});
    EXPECT_EQ(said().size(), 2u);
    EXPECT_EQ(said()[0], "Ortivex Stick 11 removed");
}

TEST_F(UiAnnouncements, AWriteSaysEachPhaseEachTenthOnceAndTheOutcome) {
    start_write();
    EXPECT_EQ(said().back(), "Preparing the drive");
    hush();
    // The write is the first 70 % of the bar: 10 % of the bar is every 1/7
    // of the writing. Small steps, many ticks: each tenth said once.
    const uint64_t total = 7'000'000;
    for (uint64_t done = 0; done <= total; done += 50'000)
        progress(done, total, WritePhase::Writing);
    progress(0, 0, WritePhase::Flushing);
    progress(0, total, WritePhase::Verifying);
    for (uint64_t done = 0; done <= total; done += 100'000)
        progress(done, total, WritePhase::Verifying);
    progress(0, 0, WritePhase::Finishing);
    h.send(finished_ok());
    h.advance(2s);
    std::vector<std::string> expected = {"Writing Ortivex"};
    for (int p = 10; p <= 70; p += 10)
        expected.push_back(std::to_string(p) + " percent");
    expected.push_back("Saving data to the drive");
    expected.push_back("Verifying Ortivex");
    for (int p = 80; p <= 100; p += 10)
        expected.push_back(std::to_string(p) + " percent");
    expected.push_back("Ejecting");
    expected.push_back("Ortivex is ready.");
    EXPECT_EQ(said(), expected);
    EXPECT_EQ(s().phase, AppPhase::Complete);

    // The next write starts counting tenths again.
    ASSERT_TRUE(h.click(UiAction::Done));
    hush();
    h.send(ImageInspected{s().image.request, "/tmp/image.iso", test::unsigned_inspection()});
    h.scan({usb_stick(10)});
    h.scan({usb_stick(10)});
    ASSERT_EQ(s().phase, AppPhase::DeviceReady);
    ASSERT_TRUE(h.click(UiAction::Create));
    ASSERT_TRUE(h.click(UiAction::AcceptErase));
    progress(2'000'000, total, WritePhase::Writing);
    EXPECT_EQ(said().back(), "20 percent");
    EXPECT_EQ(std::count(said().begin(), said().end(), "10 percent"), 0);
}

TEST_F(UiAnnouncements, ProgressNeverGoesBackNorRepeatsWhenTheCountJumps) {
    start_write();
    hush();
    progress(3'500'000, 7'000'000, WritePhase::Writing);  // 35 %: one word, not three
    progress(3'400'000, 7'000'000, WritePhase::Writing);
    progress(3'500'000, 7'000'000, WritePhase::Writing);
    EXPECT_EQ(said(), (std::vector<std::string>{"Writing Ortivex", "30 percent"}));
}

TEST_F(UiAnnouncements, StoppedAndFailedWritesSayTheirTitleAndCopySaysCopied) {
    start_write();
    progress(1000, 8'000'000, WritePhase::Writing);
    ASSERT_TRUE(h.click(UiAction::StopWrite));
    ASSERT_TRUE(h.click(UiAction::ConfirmStop));
    h.send(WriteFinished{
        unexpected(JobError::of_pipeline(PipelineError::of(PipelineError::Kind::Cancelled)))});
    ASSERT_EQ(s().phase, AppPhase::Cancelled);
    EXPECT_EQ(said().back(), "USB creation stopped.");
    EXPECT_EQ(std::count(said().begin(), said().end(), "USB creation stopped."), 1);

    UiHarness f;
    f.scan({usb_stick(10)});
    f.pick_and_accept();
    f.scan({usb_stick(10)});
    ASSERT_TRUE(f.click(UiAction::Create));
    ASSERT_TRUE(f.click(UiAction::AcceptErase));
    f.workers.write->progress->set(1000, 8'000'000, WritePhase::Writing);
    f.advance(20ms);
    f.host.announced.clear();
    f.send(WriteFinished{unexpected(JobError::of_pipeline(
        PipelineError::of(PipelineError::Kind::DeviceDisconnected, "gone")))});
    ASSERT_EQ(f.s().phase, AppPhase::Failed);
    EXPECT_EQ(f.host.announced, std::vector<std::string>{"USB drive disconnected."});
    ASSERT_TRUE(f.click(UiAction::CopyDetails));
    f.advance(2s);
    EXPECT_EQ(f.host.announced.back(), "Copied");
    ASSERT_TRUE(f.click(UiAction::ToggleDetails));
    EXPECT_EQ(f.host.announced.size(), 2u);
    // A second copy is a second event.
    f.clock.advance(1s);
    ASSERT_TRUE(f.click(UiAction::CopyDetails));
    EXPECT_EQ(f.host.announced.size(), 3u);
    EXPECT_EQ(f.host.announced.back(), "Copied");
}

TEST_F(UiAnnouncements, SaidInTheWindowsLanguage) {
    s().appearance.prefs.lang = 1;
    h.scan({usb_stick(10)});
    h.pick_and_accept();
    h.scan({usb_stick(10), usb_stick(11)});
    EXPECT_EQ(said(),
              (std::vector<std::string>{"Imagen no verificada", "Se conectó Ortivex Stick 11"}));
    hush();
    s().appearance.prefs.lang = 2;
    h.scan({usb_stick(10)});
    EXPECT_EQ(said(), std::vector<std::string>{"已移除 Ortivex Stick 11"});
}

TEST(UiSettings, WithoutAnimationsFadesAndSlidesAreCuts) {
    UiHarness h;
    h.host.animations = false;
    h.ui.start();
    h.scan({usb_stick(10)});
    h.pick_and_accept();
    h.scan({usb_stick(10)});
    ASSERT_TRUE(h.click(UiAction::ToggleVerify));
    EXPECT_EQ(h.s().animations.switch_anim.duration, 0);
    ASSERT_TRUE(h.click(UiAction::Create));
    EXPECT_EQ(h.s().animations.overlay_fade.duration, 0);
    // The dialog is drawn whole in the first frame after it opened.
    h.frame();
    const float opaque = h.s().animations.overlay_fade.value(h.ui.now());
    EXPECT_EQ(opaque, 1.0f);
    ASSERT_TRUE(h.click(UiAction::AcceptErase));
    EXPECT_EQ(h.s().animations.screen_fade.duration, 0);
    h.send(WriteFinished{});
    ASSERT_EQ(h.s().phase, AppPhase::Complete);
    // The complete mark does not grow in either.
    EXPECT_FALSE(h.s().write.complete_at);

    // Turned on again in the system: the next change fades.
    h.host.animations = true;
    h.ui.settings_changed();
    ASSERT_TRUE(h.click(UiAction::Done));
    EXPECT_GT(h.s().animations.screen_fade.duration, 0);
}

// How far apart two colours are for the eye: the contrast ratio of their
// relative luminances.
double luminance(const Rgba& c) {
    auto lin = [](float v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * lin(c.r) + 0.7152 * lin(c.g) + 0.0722 * lin(c.b);
}
double contrast(const Rgba& a, const Rgba& b) {
    double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST(UiSettings, TheKeyboardFocusIsDrawnVisiblyInEveryTheme) {
    SystemColors black_contrast{0x000000, 0xFFFFFF, 0xFFFF00, 0x000000, 0x00FF00, 0xFFFF00};
    const std::pair<const char*, Palette> themes[] = {
        {"light", light_palette()},
        {"dark", dark_palette()},
        {"contrast white", high_contrast_palette(SystemColors{})},
        {"contrast black", high_contrast_palette(black_contrast)}};
    for (const auto& [name, palette] : themes) {
        SCOPED_TRACE(name);
        UiHarness h;
        h.s().appearance.palette = palette;
        h.scan({usb_stick(10), usb_stick(11)});
        h.pick_and_accept();
        h.scan({usb_stick(10), usb_stick(11)});
        // Tab through every element: each one, when focused by the keys,
        // has a ring drawn around it in the focus colour.
        h.frame();
        size_t elements = 0;
        for (const auto& r : h.s().last_frame.regions)
            elements += r.enabled;
        ASSERT_GT(elements, 5u);
        for (size_t i = 0; i < elements; ++i) {
            h.ui.key_down(Key::Tab, false);
            h.frame();
            ElementId focus = h.s().input.focus;
            const HitRegion* region = nullptr;
            for (const auto& r : h.s().last_frame.regions)
                if (r.id == focus && r.id.param == focus.param) region = &r;
            ASSERT_NE(region, nullptr);
            bool ring = false;
            for (const DrawOp& op : h.canvas.ops()) {
                if (op.kind != DrawOp::StrokeRounded || op.paint.slot != Slot::Focus) continue;
                // Around the element: it holds the element's rectangle.
                ring = ring || (op.rect.x <= region->rect.x && op.rect.y <= region->rect.y &&
                                op.rect.right() >= region->rect.right() &&
                                op.rect.bottom() >= region->rect.bottom());
                EXPECT_GE(op.width, 2);
                EXPECT_EQ(op.paint.opacity, 1);
            }
            EXPECT_TRUE(ring) << action_name(focus.kind);
        }
        // The ring's colour stands out from what it is drawn on: the window
        // and the cards (3:1, what non-text contrast asks).
        EXPECT_GE(contrast(palette[Slot::Focus], palette[Slot::Background]), 3.0);
        EXPECT_GE(contrast(palette[Slot::Focus], palette[Slot::Surface]), 3.0);
    }
}

}  // namespace
}  // namespace sw
