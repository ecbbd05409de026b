// The gallery's checks: texts that do not fit their box and overlapping hit
// regions, over the recording canvas and its fixed measurer.
#include <gtest/gtest.h>

#include <cmath>

#include "gallery_checks.h"
#include "ui/scripted/recording_canvas.h"

namespace sw::screens {
namespace {

const TextStyle kStyle{14, 1, FontFamily::Text};

TEST(GalleryChecks, TextsLargerThanTheirBoxAreReportedAndStillDrawn) {
    RecordingCanvas inner;
    std::vector<std::string> problems;
    FitCheckingCanvas canvas(inner, problems, "setup-empty-es-light-96");
    TextExtent one = inner.measure("Create bootable USB", kStyle, 1000);
    TextExtent word = inner.measure("bootable", kStyle, 1000);

    // Exactly its size, and within the rounding slack: fits.
    canvas.text("Create bootable USB", Rect{0, 0, one.w, one.h}, kStyle, {}, Align::Start,
                Align::Start);
    canvas.text("Create bootable USB", Rect{0, 0, one.w - 0.4f, one.h - 0.4f}, kStyle, {},
                Align::Start, Align::Start);
    canvas.text("", Rect{0, 0, 0, 0}, kStyle, {}, Align::Start, Align::Start);
    EXPECT_TRUE(problems.empty());

    // Too narrow for one line: it wraps, and two lines are taller than the box.
    canvas.text("Create bootable USB", Rect{0, 0, one.w - 10, one.h}, kStyle, {}, Align::Start,
                Align::Start);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("setup-empty-es-light-96: text 'Create bootable USB' "),
              std::string::npos);
    EXPECT_NE(problems[0].find(" in box " + std::to_string(int(std::ceil(one.w - 10))) + "x" +
                               std::to_string(int(std::ceil(one.h)))),
              std::string::npos);

    // A word wider than its box, even where the box is tall enough.
    canvas.text("bootable", Rect{0, 0, word.w - 5, 200}, kStyle, {}, Align::Start, Align::Start);
    EXPECT_EQ(problems.size(), 2u);

    // Everything reached the inner canvas, checked or not.
    int texts = 0;
    for (const DrawOp& op : inner.ops())
        texts += op.kind == DrawOp::Text;
    EXPECT_EQ(texts, 5);
    canvas.fill_rect(Rect{1, 2, 3, 4}, {Slot::Accent, 0.5f});
    canvas.push_clip(Rect{0, 0, 10, 10});
    canvas.pop_clip();
    ASSERT_EQ(inner.ops().size(), 8u);
    EXPECT_EQ(inner.ops()[5].rect, (Rect{1, 2, 3, 4}));
    EXPECT_EQ(inner.ops()[5].paint.slot, Slot::Accent);
    EXPECT_EQ(inner.ops()[7].kind, DrawOp::PopClip);
}

TEST(GalleryChecks, OverlappingRegionsAreNamedTouchingOnesAreNot) {
    std::vector<HitRegion> regions = {
        {{UiAction::SelectImage, 0}, Rect{0, 0, 100, 40}, true},
        {{UiAction::DownloadLatest, 0}, Rect{100, 0, 100, 40}, true},  // touches the first
        {{UiAction::SelectDrive, 2}, Rect{0, 40, 200, 50}, true},      // touches both
        {{UiAction::SelectDrive, 3}, Rect{0, 89, 200, 50}, false},     // 1 DIP into disk 2
    };
    std::vector<std::string> problems;
    check_regions(regions, "setup-ready-en-dark-144", problems);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0],
              "setup-ready-en-dark-144: regions SelectDrive#2 and SelectDrive#3 overlap");

    problems.clear();
    regions.push_back({{UiAction::Create, 0}, Rect{150, 20, 10, 10}, true});  // inside another
    check_regions(regions, "f", problems);
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[0], "f: regions DownloadLatest and Create overlap");
}

}  // namespace
}  // namespace sw::screens
