// The frame: the fixed geometry, regions in drawing order with their guards,
// and every text of every screen fitting its box in all three languages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>

#include "support/recording_canvas.h"
#include "support/ui_harness.h"
#include "ui/scripted/screens.h"
#include "ui/view.h"

namespace sw {
namespace {

using test::find_region;

struct Drawn {
    ScriptedScreen screen;
    RecordingCanvas canvas;
};

Drawn draw(std::string_view name, uint8_t lang = 0, uint32_t dpi = 96) {
    auto screen = scripted_screen(name, lang);
    EXPECT_TRUE(screen) << name;
    Drawn d{std::move(*screen), RecordingCanvas(dpi)};
    d.screen.state.geometry.dpi = dpi;
    build_frame(d.screen.state, d.canvas, d.screen.now);
    return d;
}

TEST(UiView, SetupGeometry) {
    Drawn d = draw("setup-selected");
    const WindowState& s = d.screen.state;
    // The image card starts at y 158 across the content width.
    bool card = false;
    for (const auto& op : d.canvas.ops())
        if (op.kind == DrawOp::FillRounded && op.rect == Rect{32, 158, 496, op.rect.h} &&
            op.paint.slot == Slot::Surface)
            card = true;
    EXPECT_TRUE(card);
    const HitRegion* download = find_region(s, UiAction::DownloadLatest);
    const HitRegion* select = find_region(s, UiAction::SelectImage);
    ASSERT_TRUE(download && select);
    EXPECT_FLOAT_EQ(download->rect.y, 238);
    EXPECT_FLOAT_EQ(download->rect.h, 34);
    EXPECT_FLOAT_EQ(download->rect.right(), 508);
    EXPECT_FLOAT_EQ(select->rect.right(), download->rect.x - 8);
    RecordingCanvas m;
    TextStyle label{13.5f, 2, FontFamily::Text};
    EXPECT_FLOAT_EQ(download->rect.w, std::ceil(m.measure("Download Latest", label, 1e4).w) + 56);
    EXPECT_FLOAT_EQ(select->rect.w, std::ceil(m.measure("Select ISO", label, 1e4).w) + 56);
    const HitRegion* verify = find_region(s, UiAction::ToggleVerify);
    ASSERT_TRUE(verify);
    EXPECT_FLOAT_EQ(verify->rect.x, 40);
    EXPECT_FLOAT_EQ(verify->rect.w, 480);
    EXPECT_FLOAT_EQ(verify->rect.h, 50);
    const HitRegion* create = find_region(s, UiAction::Create);
    ASSERT_TRUE(create);
    EXPECT_EQ(create->rect, (Rect{32, 616, 496, 48}));
    EXPECT_TRUE(create->enabled);
    EXPECT_FALSE(find_region(draw("setup-ready").screen.state, UiAction::Create)->enabled);
}

TEST(UiView, ConfirmationButtonsAre44High) {
    for (auto name : {"overlay-erase", "overlay-stop", "overlay-restore"}) {
        Drawn d = draw(name);
        int buttons = 0;
        for (const auto& r : d.screen.state.last_frame.regions) {
            if (r.id.kind == UiAction::TogglePanel) continue;
            EXPECT_FLOAT_EQ(r.rect.h, 44) << name << " " << action_name(r.id.kind);
            ++buttons;
        }
        EXPECT_EQ(buttons, 2) << name;
    }
}

TEST(UiView, OverlayHidesTheScreenRegionsAndComesLast) {
    Drawn d = draw("overlay-erase");
    const auto& regions = d.screen.state.last_frame.regions;
    ASSERT_EQ(regions.size(), 3u);
    EXPECT_EQ(regions[0].id.kind, UiAction::TogglePanel);
    EXPECT_EQ(regions[1].id.kind, UiAction::DismissErase);
    EXPECT_EQ(regions[2].id.kind, UiAction::AcceptErase);
    EXPECT_TRUE(test::has_text(d.canvas, "Erase Disk 2 SanDisk Ultra?"));
}

TEST(UiView, RefusedRowsHaveNoRegionAndSayWhy) {
    Drawn d = draw("setup-ready");
    const WindowState& s = d.screen.state;
    EXPECT_TRUE(find_region(s, UiAction::SelectDrive, 2));
    EXPECT_TRUE(find_region(s, UiAction::SelectDrive, 3));
    EXPECT_FALSE(find_region(s, UiAction::SelectDrive, 4));
    EXPECT_FALSE(find_region(s, UiAction::SelectDrive, 5));
    EXPECT_FALSE(find_region(s, UiAction::SelectDrive, 6));
    EXPECT_TRUE(test::has_text(d.canvas, "No media"));
    EXPECT_TRUE(test::has_text(d.canvas, "Too small · needs 5.4 GB"));
    EXPECT_TRUE(test::has_text(d.canvas, "Protected · system drive"));
    EXPECT_TRUE(test::has_text(d.canvas, "32 GB · USB 3.2 Gen 1 · Disk 2 · E:"));
    EXPECT_TRUE(test::has_text(d.canvas, "Stable · x86-64 · 5.4 GB · Build 3118"));
    EXPECT_TRUE(test::has_text(d.canvas, "Official VOSKET Image"));
}

TEST(UiView, ProgressTexts) {
    Drawn d = draw("progress-writing");
    EXPECT_TRUE(test::has_text(d.canvas, "Writing live/filesystem.squashfs"));
    EXPECT_TRUE(test::has_text(d.canvas, "2.5 GB / 5.4 GB"));
    EXPECT_TRUE(test::has_text(d.canvas, "31 MB/s"));
    EXPECT_TRUE(test::has_text(d.canvas, "4 minutes"));  // 210 s
    EXPECT_TRUE(test::has_text(d.canvas, "7:05"));
    Drawn v = draw("progress-verifying");
    EXPECT_TRUE(test::has_text(v.canvas, "Verifying boot/grub/grub.cfg"));
    Drawn p = draw("progress-preparing");
    EXPECT_TRUE(test::has_text(p.canvas, "Waiting for other programs to release the drive…"));
    EXPECT_FALSE(find_region(draw("progress-flushing").screen.state, UiAction::StopWrite)->enabled);
    EXPECT_FALSE(find_region(draw("progress-ejecting").screen.state, UiAction::StopWrite)->enabled);
    // Without verification there are three steps.
    Drawn n = draw("progress-no-verify");
    EXPECT_FALSE(test::has_text(n.canvas, "Verifying"));
    EXPECT_TRUE(test::has_text(n.canvas, "Finishing"));
}

TEST(UiView, UpdateNoticeSitsAboveTheFooterLine) {
    for (uint8_t lang = 0; lang < 3; ++lang) {
        Drawn d = draw("setup-update", lang);
        const DrawOp* notice = test::find_text(d.canvas, "1.4.0");
        const DrawOp* footer = test::find_text(d.canvas, "VOSKET ·");
        ASSERT_TRUE(notice && footer);
        EXPECT_LE(notice->rect.bottom(), footer->rect.y);
        EXPECT_GE(notice->rect.y, kContentBottom);
        const HitRegion* link = find_region(d.screen.state, UiAction::OpenUpdate);
        ASSERT_TRUE(link);
        EXPECT_TRUE(link->enabled);
        EXPECT_GE(link->rect.x, notice->rect.right());
    }
}

TEST(UiView, SlowSpeedShowsNoValue) {
    auto screen = scripted_screen("progress-writing");
    screen->state.write.rate.rate = 40'000;
    RecordingCanvas c;
    build_frame(screen->state, c, screen->now);
    EXPECT_FALSE(test::has_text(c, "MB/s"));
}

TEST(UiView, EndScreens) {
    Drawn c = draw("complete");
    EXPECT_TRUE(test::has_text(c.canvas, "Written at 31 MB/s · verified at 55 MB/s"));
    EXPECT_TRUE(find_region(c.screen.state, UiAction::Eject)->enabled);
    Drawn f = draw("complete-eject-failed");
    EXPECT_TRUE(test::has_text(f.canvas, "Safely Remove Hardware"));
    EXPECT_FALSE(find_region(f.screen.state, UiAction::Eject));
    Drawn x = draw("failed-details");
    EXPECT_TRUE(test::has_text(x.canvas, "USB drive disconnected."));
    EXPECT_TRUE(test::has_text(x.canvas, "Hide details"));
    EXPECT_TRUE(test::has_text(x.canvas, "os error 21"));
    EXPECT_TRUE(find_region(x.screen.state, UiAction::TryAgain));
    EXPECT_TRUE(find_region(x.screen.state, UiAction::CopyDetails)->enabled);
    Drawn k = draw("overlay-drive-check-done");
    EXPECT_TRUE(test::has_text(k.canvas, "This drive is healthy."));
    EXPECT_TRUE(test::has_text(k.canvas, "Slow · 640 KB/s"));
    EXPECT_TRUE(test::has_text(k.canvas, "✓ 38.2 MB/s"));
}

TEST(UiView, RestoreScreensSayWhatARestoreDoesInEachLanguage) {
    Drawn o = draw("overlay-restore");
    EXPECT_TRUE(test::has_text(o.canvas, "Restore Disk 3 Samsung BAR Plus?"));
    EXPECT_TRUE(test::has_text(o.canvas, "one empty exFAT partition"));
    EXPECT_TRUE(find_region(o.screen.state, UiAction::AcceptRestore)->enabled);
    Drawn p = draw("progress-restore");
    EXPECT_TRUE(test::has_text(p.canvas, "Restoring the USB drive"));
    EXPECT_TRUE(test::has_text(p.canvas, "Creating the file system"));
    EXPECT_TRUE(test::has_text(p.canvas, "43%"));  // 0.7 × 20 MiB of 32 MiB
    EXPECT_TRUE(find_region(p.screen.state, UiAction::StopWrite)->enabled);
    Drawn c = draw("complete-restore");
    EXPECT_TRUE(test::has_text(
        c.canvas, "It now has one empty partition: exFAT, 128 KiB clusters, 59.6 GiB"));
    EXPECT_FALSE(test::has_text(c.canvas, "verified"));
    EXPECT_TRUE(find_region(c.screen.state, UiAction::Eject)->enabled);
    Drawn f = draw("failed-restore");
    EXPECT_TRUE(test::has_text(f.canvas, "The USB drive stopped accepting data."));
    // The setup screen offers it beside "Check drive", as a drive is chosen.
    Drawn s = draw("setup-selected");
    const HitRegion* restore = find_region(s.screen.state, UiAction::RestoreDrive);
    const HitRegion* check = find_region(s.screen.state, UiAction::CheckDrive);
    ASSERT_TRUE(restore && check);
    EXPECT_TRUE(restore->enabled);
    EXPECT_FLOAT_EQ(restore->rect.y, check->rect.y);
    EXPECT_LT(restore->rect.right(), check->rect.x);
    EXPECT_FALSE(find_region(draw("setup-ready").screen.state, UiAction::RestoreDrive)->enabled);

    Drawn es = draw("complete-restore", 1);
    EXPECT_TRUE(test::has_text(es.canvas, "La unidad está restaurada."));
    EXPECT_TRUE(test::has_text(es.canvas, "exFAT, clústeres de 128 KiB, 59.6 GiB"));
    Drawn zh = draw("overlay-restore", 2);
    EXPECT_TRUE(test::has_text(zh.canvas, "要恢复 磁盘 3 Samsung BAR Plus 吗？"));
    EXPECT_TRUE(test::has_text(zh.canvas, "清除并恢复"));
}

// Every screen, every language, both densities: each text fits its box,
// lies inside the window, and each region's flag is its action's guard.
TEST(UiView, EveryTextFitsEveryScreenInEveryLanguage) {
    for (uint32_t dpi : {96u, 144u}) {
        for (uint8_t lang = 0; lang < 3; ++lang) {
            for (auto name : screen_names()) {
                Drawn d = draw(name, lang, dpi);
                RecordingCanvas m(dpi);
                int texts = 0;
                int clip = 0;
                for (const auto& op : d.canvas.ops()) {
                    if (op.kind == DrawOp::PushClip) ++clip;
                    if (op.kind == DrawOp::PopClip) --clip;
                    if (op.kind != DrawOp::Text) continue;
                    ++texts;
                    TextExtent e = m.measure(op.text, op.style, op.rect.w);
                    EXPECT_LE(e.w, op.rect.w + 0.01f)
                        << name << " lang " << int(lang) << " dpi " << dpi << ": " << op.text;
                    EXPECT_LE(e.h, op.rect.h + 0.01f)
                        << name << " lang " << int(lang) << " dpi " << dpi << ": " << op.text;
                    EXPECT_GE(op.rect.x, 0) << name << ": " << op.text;
                    EXPECT_LE(op.rect.right(), kClientWidth) << name << ": " << op.text;
                    // Screen content may reach below the window: it scrolls.
                    if (clip == 0) {
                        EXPECT_LE(op.rect.bottom(), kClientHeight) << name << ": " << op.text;
                    }
                }
                EXPECT_GT(texts, 3) << name;
                for (const auto& r : d.screen.state.last_frame.regions) {
                    EXPECT_EQ(r.enabled, action_enabled(d.screen.state, r.id))
                        << name << " " << action_name(r.id.kind);
                    EXPECT_GE(r.rect.x, 0);
                    EXPECT_LE(r.rect.right(), kClientWidth);
                }
            }
        }
    }
}

TEST(UiView, ScreenCrossFadeDrawsTheOldScreenAsItWasButOnlyTheNewOneIsLive) {
    Drawn progress = draw("progress-writing");
    auto screen = scripted_screen("complete");
    WindowState& s = screen->state;
    s.previous_screen = ScreenKind::Progress;
    s.last_frame.outgoing_picture = progress.screen.state.last_frame.screen_picture;
    s.animations.screen_fade = Animation::run(screen->now - 0.1, 0.24, 0, 1);
    RecordingCanvas c;
    build_frame(s, c, screen->now);
    EXPECT_TRUE(test::has_text(c, "Creating Ortivex Installation Media"));
    // As it was drawn, though the phase now says Complete.
    EXPECT_TRUE(test::has_text(c, "Writing live/filesystem.squashfs"));
    EXPECT_FALSE(test::has_text(c, "Ejecting"));
    EXPECT_TRUE(test::has_text(c, "Ortivex is ready."));
    EXPECT_FALSE(find_region(s, UiAction::StopWrite));
    EXPECT_TRUE(find_region(s, UiAction::Done));
    // The fade over, only the new screen.
    RecordingCanvas after;
    build_frame(s, after, screen->now + 0.2);
    EXPECT_FALSE(test::has_text(after, "Creating Ortivex Installation Media"));
    EXPECT_TRUE(test::has_text(after, "Ortivex is ready."));
}

TEST(UiView, AScreenDrawnAgainFromItsPictureIsTheSame) {
    Drawn d = draw("progress-verifying");
    const auto& picture = d.screen.state.last_frame.screen_picture;
    ASSERT_FALSE(picture.empty());
    RecordingCanvas again;
    replay(picture, again);
    ASSERT_EQ(again.ops().size(), picture.size());
    for (size_t i = 0; i < picture.size(); ++i) {
        EXPECT_EQ(again.ops()[i].kind, picture[i].kind) << i;
        EXPECT_EQ(again.ops()[i].rect, picture[i].rect) << i;
        EXPECT_EQ(again.ops()[i].text, picture[i].text) << i;
        EXPECT_EQ(again.ops()[i].paint.slot, picture[i].paint.slot) << i;
    }
}

// The scroll bar's two parts stand right of the content.
int scroll_indicator_parts(const RecordingCanvas& canvas) {
    int n = 0;
    for (const auto& op : canvas.ops())
        if (op.kind == DrawOp::FillRounded && op.rect.x >= 528 && op.rect.w <= 6) ++n;
    return n;
}

TEST(UiView, ManyDrivesScrollAboveAMainButtonThatKeepsItsPlace) {
    for (uint32_t dpi : {96u, 144u}) {
        for (uint8_t lang = 0; lang < 3; ++lang) {
            for (auto name : {"setup-many-drives", "setup-many-drives-scrolled"}) {
                Drawn d = draw(name, lang, dpi);
                const WindowState& s = d.screen.state;
                const HitRegion* create = find_region(s, UiAction::Create);
                ASSERT_TRUE(create) << name;
                EXPECT_EQ(create->rect, (Rect{32, 616, 496, 48})) << name;
                EXPECT_TRUE(create->enabled);
                EXPECT_GT(s.geometry.scroll_limit, 0) << name;
                EXPECT_EQ(scroll_indicator_parts(d.canvas), 2) << name;
                EXPECT_LE(s.geometry.viewport.bottom(), create->rect.y);
                // What scrolls can be pressed only inside the scrolled area.
                for (const auto& r : s.last_frame.regions) {
                    if (r.id.kind == UiAction::Create || r.id.kind == UiAction::TogglePanel)
                        continue;
                    if (r.rect.h == 0) continue;
                    EXPECT_GE(r.rect.y, s.geometry.viewport.y)
                        << name << " " << action_name(r.id.kind);
                    EXPECT_LE(r.rect.bottom(), s.geometry.viewport.bottom())
                        << name << " " << action_name(r.id.kind);
                }
            }
        }
    }
    // Scrolled to its end, the last row and the switch are in sight.
    Drawn end = draw("setup-many-drives-scrolled");
    const HitRegion* verify = find_region(end.screen.state, UiAction::ToggleVerify);
    ASSERT_TRUE(verify);
    EXPECT_EQ(verify->rect, verify->whole);
    // With everything in sight, no bar.
    Drawn few = draw("setup-selected");
    EXPECT_EQ(few.screen.state.geometry.scroll_limit, 0);
    EXPECT_EQ(scroll_indicator_parts(few.canvas), 0);
}

TEST(UiView, JsonOfAFrame) {
    Drawn d = draw("setup-empty");
    std::string json = frame_json(d.canvas.ops(), d.screen.state.last_frame.regions);
    EXPECT_EQ(json.rfind("{\"ops\":[", 0), 0u);
    EXPECT_NE(json.find("\"text\":\"Insert a USB drive\""), std::string::npos);
    EXPECT_NE(json.find("{\"action\":\"SelectImage\",\"kind\":1,\"param\":0,\"x\":"),
              std::string::npos);
}

TEST(UiRecordingCanvas, MeasuresDeterministicallyAndWraps) {
    RecordingCanvas c;
    TextStyle st{10, 1, FontFamily::Text};
    TextExtent one = c.measure("abc", st, 1000);
    EXPECT_FLOAT_EQ(one.h, std::ceil(13.3f));
    TextExtent wrapped = c.measure("abc abc abc", st, one.w + 1);
    EXPECT_FLOAT_EQ(wrapped.h, std::ceil(3 * 13.3f));
    EXPECT_LE(wrapped.w, one.w + 1);
    // Wide characters are a full em and may break anywhere.
    EXPECT_FLOAT_EQ(c.measure("中文", st, 1000).w, 20);
    EXPECT_FLOAT_EQ(c.measure("中文", st, 12).h, std::ceil(2 * 13.3f));
    RecordingCanvas hi(144);
    EXPECT_GE(hi.measure("abc", st, 1000).w, one.w - 1);
}

namespace sw {
namespace {

TEST(UiView, HighContrastDrawsDisabledButtonsInTheGreyTextColour) {
    auto screen = scripted_screen("setup-empty", 0, Theme::Light, true);
    ASSERT_TRUE(screen);
    RecordingCanvas canvas;
    build_frame(screen->state, canvas, screen->now);
    const DrawOp* create = test::find_text(canvas, "Create bootable USB");
    ASSERT_NE(create, nullptr);
    EXPECT_FALSE(action_enabled(screen->state, {UiAction::Create}));
    EXPECT_EQ(create->paint.slot, Slot::Text3);
    EXPECT_EQ(create->paint.opacity, 1.0f);
    // Enabled ones keep their colours.
    const DrawOp* pick = test::find_text(canvas, "Select ISO");
    ASSERT_NE(pick, nullptr);
    EXPECT_NE(pick->paint.slot, Slot::Text3);
}

TEST(UiView, ARefusedDriveSaysWhyInFullInSpanish) {
    auto screen = scripted_screen("setup-many-drives", 1);
    ASSERT_TRUE(screen);
    RecordingCanvas canvas;
    build_frame(screen->state, canvas, screen->now);
    EXPECT_TRUE(test::has_text(canvas, "Demasiado pequeña · necesita 5.4 GB"));
}

}  // namespace
}  // namespace sw

namespace sw {
namespace {

TEST(UiView, ValidatingCardShowsOneLineUnderItsTitle) {
    auto screen = scripted_screen("setup-validating");
    ASSERT_TRUE(screen);
    ASSERT_GT(screen->state.image.progress->total.load(), 0u);
    RecordingCanvas canvas;
    build_frame(screen->state, canvas, screen->now);
    const DrawOp* percent = test::find_text(canvas, "Verifying image integrity");
    ASSERT_NE(percent, nullptr);
    for (const auto& op : canvas.ops()) {
        if (op.kind != DrawOp::Text || &op == percent) continue;
        bool overlaps = op.rect.x < percent->rect.right() && percent->rect.x < op.rect.right() &&
                        op.rect.y < percent->rect.bottom() && percent->rect.y < op.rect.bottom();
        EXPECT_FALSE(overlaps) << "'" << op.text << "' is drawn over the progress line";
    }
}

}  // namespace
}  // namespace sw

namespace sw {
namespace {

// Texts laid out over one another are unreadable whatever their boxes say;
// compared by the extent each text takes in its box.
TEST(UiView, NoTwoTextsOfAScreenOverlap) {
    for (uint8_t lang = 0; lang < 3; ++lang) {
        for (auto name : screen_names()) {
            Drawn d = draw(name, lang);
            if (d.screen.state.overlay != Overlay::None) continue;  // an overlay covers the screen
            RecordingCanvas m;
            std::vector<std::pair<Rect, std::string>> inked;
            std::vector<Rect> clips;
            for (const auto& op : d.canvas.ops()) {
                if (op.kind == DrawOp::PushClip) clips.push_back(op.rect);
                if (op.kind == DrawOp::PopClip && !clips.empty()) clips.pop_back();
                if (op.kind != DrawOp::Text || op.text.empty()) continue;
                TextExtent e = m.measure(op.text, op.style, op.rect.w);
                float x = op.horizontal == Align::Start    ? op.rect.x
                          : op.horizontal == Align::Center ? op.rect.x + (op.rect.w - e.w) / 2
                                                           : op.rect.right() - e.w;
                float y = op.vertical == Align::Start    ? op.rect.y
                          : op.vertical == Align::Center ? op.rect.y + (op.rect.h - e.h) / 2
                                                         : op.rect.bottom() - e.h;
                Rect r{x, y, e.w, e.h};
                for (const Rect& c : clips) {  // what a clip cuts off is not seen
                    float left = std::max(r.x, c.x), top = std::max(r.y, c.y);
                    float right = std::min(r.right(), c.right());
                    float bottom = std::min(r.bottom(), c.bottom());
                    r = Rect{left, top, std::max(0.0f, right - left), std::max(0.0f, bottom - top)};
                }
                if (r.w > 0 && r.h > 0) inked.push_back({r, op.text});
            }
            for (size_t i = 0; i < inked.size(); ++i) {
                for (size_t j = 0; j < i; ++j) {
                    const Rect& a = inked[i].first;
                    const Rect& b = inked[j].first;
                    bool overlap = a.x < b.right() - 0.5f && b.x < a.right() - 0.5f &&
                                   a.y < b.bottom() - 0.5f && b.y < a.bottom() - 0.5f;
                    EXPECT_FALSE(overlap)
                        << name << " lang " << int(lang) << ": '" << inked[i].second << "' over '"
                        << inked[j].second << "'";
                }
            }
        }
    }
}

}  // namespace
}  // namespace sw

// A dialog is as high as what it holds: its content starts one margin under
// its top edge and its last button ends one margin above its bottom edge, in
// every language, whatever the texts wrap to, and it sits centred.
TEST(UiView, EveryDialogEnclosesItsContentWithEqualMargins) {
    for (std::string_view name : screen_names()) {
        if (!name.starts_with("overlay-")) continue;
        for (uint8_t lang = 0; lang < 3; ++lang) {
            for (uint32_t dpi : {96u, 144u}) {
                SCOPED_TRACE(testing::Message() << name << " lang " << int(lang) << " dpi " << dpi);
                Drawn d = draw(name, lang, dpi);
                const auto& ops = d.canvas.ops();
                std::optional<Rect> panel;
                size_t at = 0;
                for (size_t i = 0; i < ops.size(); ++i)
                    if (ops[i].kind == DrawOp::FillRounded && ops[i].radius == 14 &&
                        ops[i].paint.slot == Slot::Surface)
                        panel = ops[at = i].rect;
                ASSERT_TRUE(panel);
                float lowest = 0;
                for (const auto& r : d.screen.state.last_frame.regions)
                    lowest = std::max(lowest, r.rect.bottom());
                EXPECT_FLOAT_EQ(panel->bottom() - lowest, 24);
                EXPECT_NEAR(panel->y + panel->h / 2, 360, 0.5);
                float highest = panel->bottom();
                for (size_t i = at; i < ops.size(); ++i)
                    if (ops[i].kind == DrawOp::Text) highest = std::min(highest, ops[i].rect.y);
                EXPECT_FLOAT_EQ(highest - panel->y, 24);
            }
        }
    }
}

}  // namespace
}  // namespace sw
