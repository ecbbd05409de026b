// Where the window opens on screens large and small.
#include <gtest/gtest.h>

#include <climits>
#include <ostream>

#include "ui/placement.h"

namespace sw {

void PrintTo(WindowOrigin o, std::ostream* os) {
    *os << "(" << o.x << ", " << o.y << ")";
}

namespace {

TEST(WindowOrigin, CentredWhereItFitsAndWithItsCaptionInReachWhereItDoesNot) {
    // 1920 × 1080 at 100 % with a 40-pixel taskbar below: centred on the screen.
    const ScreenArea full_hd{0, 0, 1920, 1040};
    EXPECT_EQ(window_origin(1920, 1080, full_hd, 574, 759), (WindowOrigin{673, 160}));
    // 1920 × 1080 at 150 %: the window is taller than the screen; its top
    // stays on it, instead of 22 pixels above.
    const ScreenArea full_hd_150{0, 0, 1920, 1008};
    EXPECT_EQ(window_origin(1920, 1080, full_hd_150, 862, 1125), (WindowOrigin{529, 0}));
    // 1366 × 768 at 100 %: it fits the screen but not the work area; it
    // moves up as far as the top.
    const ScreenArea small{0, 0, 1366, 728};
    EXPECT_EQ(window_origin(1366, 768, small, 574, 759), (WindowOrigin{396, 0}));
    // A taskbar on top or at the left: the caption is not put beneath it.
    EXPECT_EQ(window_origin(1920, 1080, ScreenArea{0, 48, 1920, 1080}, 862, 1125),
              (WindowOrigin{529, 48}));
    EXPECT_EQ(window_origin(1366, 768, ScreenArea{62, 0, 1366, 768}, 1400, 700),
              (WindowOrigin{62, 34}));
    // Room to spare below the centre is not used to move it down.
    EXPECT_EQ(window_origin(1920, 1080, ScreenArea{0, 0, 1920, 1080}, 100, 100),
              (WindowOrigin{910, 490}));
}

TEST(WindowOrigin, AnUnknownWorkAreaOrExtremeSizesLeaveTheCentredPosition) {
    EXPECT_EQ(window_origin(1920, 1080, ScreenArea{}, 862, 1125), (WindowOrigin{529, -22}));
    EXPECT_EQ(window_origin(0, 0, ScreenArea{}, INT_MAX, INT_MAX),
              (WindowOrigin{-(INT_MAX / 2), -(INT_MAX / 2)}));
    EXPECT_EQ(window_origin(1920, 1080, ScreenArea{0, 0, 1920, 1040}, INT_MAX, INT_MAX),
              (WindowOrigin{0, 0}));
}

TEST(FittingDpi, TheMonitorsScaleWhereTheWindowFitsTheLargestThatFitsWhereItDoesNot) {
    // 1920 × 1080 at 150 %, a 72-pixel taskbar, a 45-pixel caption: 963
    // pixels are left for the 1080 the client would need; at 128 DPI it is
    // 960 high.
    EXPECT_EQ(fitting_dpi(144, 22, 45, ScreenArea{0, 0, 1920, 1008}), 128u);
    // Where it fits, the monitor's own: 1920 × 1080 at 100 %, 3840 × 2160 at
    // 200 %, 2560 × 1440 at 175 %, 1920 × 1200 at 150 % (1080 of 1083).
    EXPECT_EQ(fitting_dpi(96, 14, 38, ScreenArea{0, 0, 1920, 1040}), 96u);
    EXPECT_EQ(fitting_dpi(192, 30, 60, ScreenArea{0, 0, 3840, 2064}), 192u);
    EXPECT_EQ(fitting_dpi(168, 26, 52, ScreenArea{0, 0, 2560, 1356}), 168u);
    EXPECT_EQ(fitting_dpi(144, 22, 45, ScreenArea{0, 0, 1920, 1128}), 144u);
    // One pixel short, one DPI less; the rounding of the client size counts.
    EXPECT_EQ(fitting_dpi(144, 0, 0, ScreenArea{0, 0, 2000, 1080}), 144u);
    EXPECT_EQ(fitting_dpi(144, 0, 0, ScreenArea{0, 0, 2000, 1079}), 143u);
    EXPECT_EQ(fitting_dpi(144, 0, 0, ScreenArea{100, 0, 940, 2000}), 144u);
    EXPECT_EQ(fitting_dpi(144, 0, 0, ScreenArea{100, 0, 939, 2000}), 143u);
}

TEST(FittingDpi, NeverBelowOneToOneAndTheMonitorsOwnWithoutAWorkArea) {
    // 1366 × 768 at 100 % is short by 23 pixels: it stays at 96.
    EXPECT_EQ(fitting_dpi(96, 14, 38, ScreenArea{0, 0, 1366, 728}), 96u);
    EXPECT_EQ(fitting_dpi(144, 22, 45, ScreenArea{0, 0, 800, 600}), 96u);
    EXPECT_EQ(fitting_dpi(144, 10000, 10000, ScreenArea{0, 0, 800, 600}), 96u);
    EXPECT_EQ(fitting_dpi(144, 22, 45, ScreenArea{}), 144u);
    EXPECT_EQ(fitting_dpi(144, 22, 45, ScreenArea{0, 0, 1920, 0}), 144u);
    EXPECT_EQ(fitting_dpi(480, 0, 0, ScreenArea{INT_MIN, INT_MIN, INT_MAX, INT_MAX}), 480u);
}

}  // namespace
}  // namespace sw
