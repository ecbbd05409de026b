// Acting on an element as an assistive technology does: invoking runs what a
// click runs, with the same guards; focusing moves the keyboard focus.
#include <gtest/gtest.h>

#include "support/ui_harness.h"
#include "ui/view.h"

namespace sw {
namespace {

using test::UiHarness;
using test::usb_stick;

class UiInvoke : public ::testing::Test {
  protected:
    UiHarness h;
    WindowState& s() { return h.s(); }

    void to_device_ready() {
        h.scan({usb_stick(10), usb_stick(11)});
        h.pick_and_accept();
        h.scan({usb_stick(10), usb_stick(11)});
        h.ui.select_drive(10);
        h.frame();
        ASSERT_EQ(s().phase, AppPhase::DeviceReady);
    }
};

TEST_F(UiInvoke, AnAbsentOrDisabledElementDoesNothing) {
    h.frame();
    // Create is drawn but disabled without an image and a drive.
    const HitRegion* create = test::find_region(s(), UiAction::Create);
    ASSERT_TRUE(create);
    ASSERT_FALSE(create->enabled);
    h.ui.invoke({UiAction::Create});
    EXPECT_EQ(s().overlay, Overlay::None);
    // Not in the frame at all: the erase confirmation's accept button.
    h.ui.invoke({UiAction::AcceptErase});
    EXPECT_EQ(s().phase, AppPhase::Idle);
    EXPECT_FALSE(h.workers.write);
    h.ui.invoke({});
    h.ui.focus_element({UiAction::Create});
    EXPECT_TRUE(s().input.focus.is_none());
    EXPECT_FALSE(s().input.focus_visible);
}

TEST_F(UiInvoke, AnEnabledElementDoesWhatItsClickDoes) {
    h.frame();
    h.ui.invoke({UiAction::SelectImage});
    h.frame();
    EXPECT_EQ(h.host.pickers, 1);  // the picker opens, as after a click

    to_device_ready();
    // A drive row selects its drive, by its parameter.
    h.ui.invoke({UiAction::SelectDrive, 11});
    h.frame();
    ASSERT_TRUE(selected_drive(s()));
    EXPECT_EQ(selected_drive(s())->number, 11u);
    // A drive that is not listed selects nothing.
    h.ui.invoke({UiAction::SelectDrive, 99});
    EXPECT_EQ(selected_drive(s())->number, 11u);

    h.ui.invoke({UiAction::Create});
    h.frame();
    ASSERT_EQ(s().overlay, Overlay::EraseConfirm);
    // Behind the overlay the setup screen's buttons cannot be reached.
    h.ui.invoke({UiAction::SelectImage});
    EXPECT_EQ(h.host.pickers, 1);
    h.ui.invoke({UiAction::AcceptErase});
    h.frame();
    EXPECT_EQ(s().phase, AppPhase::Preparing);
    ASSERT_TRUE(h.workers.write);
}

TEST_F(UiInvoke, FocusingMovesTheKeyboardFocusAndShowsIt) {
    to_device_ready();
    h.ui.focus_element({UiAction::SelectDrive, 11});
    EXPECT_EQ(s().input.focus, (ElementId{UiAction::SelectDrive, 11}));
    EXPECT_TRUE(s().input.focus_visible);
    EXPECT_TRUE(h.host.dirty);
    // Enter then acts on it, as after Tab.
    h.ui.key_down(Key::Enter, false);
    h.frame();
    EXPECT_EQ(selected_drive(s())->number, 11u);
}

}  // namespace
}  // namespace sw
