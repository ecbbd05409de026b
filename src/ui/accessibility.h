// What a screen reader is told: each frame's accessibility tree, built by the
// view beside its hit regions, and the announcements of what changed without
// the user acting. Platform-free; the Windows side translates the tree into
// UI Automation providers and the announcements into notification events.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ui/app_state.h"
#include "ui/canvas.h"

namespace sw {

enum class A11yRole : uint8_t {
    Group,   // a card
    Dialog,  // an open overlay (modal)
    Button,
    RadioButton,  // a drive row, a theme or language segment
    Toggle,       // "Verify after writing"
    ProgressBar,
    Text,
    Status,  // the footer and the live progress line
    List,    // the drive list and each selector: holds radio buttons
};

// One thing a user can perceive or act on. The nodes of a tree are listed
// parents before their children, in reading order.
struct A11yNode {
    // Stable from frame to frame for the same element: an interactive
    // element's action and parameter, a text's fixed role id. Never 0.
    uint32_t id = 0;
    A11yRole role = A11yRole::Text;
    std::string name;  // in the window's language; never empty
    std::string help;  // the description drawn beside it, if any
    int parent = -1;   // index of the parent node; -1: a child of the window
    // Device-independent pixels of the client area, after scrolling: the
    // part in sight. An element scrolled wholly out of sight stays in the
    // tree (the keys still reach it and scroll it into sight) with an empty
    // rectangle on the edge of the area it scrolled out of.
    Rect bounds;
    // What invoking, selecting, toggling or expanding it runs (as a click
    // would, with the same guard); none for texts and groups.
    ElementId action;
    bool enabled = true;
    bool focusable = false;
    bool focused = false;          // holds the keyboard focus
    bool selected = false;         // radio buttons
    std::optional<bool> toggled;   // toggles
    std::optional<bool> expanded;  // "Show details"
    std::optional<double> value;   // progress bars: percent, 0 to 100
};

struct A11yTree {
    std::vector<A11yNode> nodes;
    // An overlay is open: the tree holds only the overlay's nodes, under
    // one dialog node.
    bool modal = false;
};

// The fixed role ids of the nodes that are not interactive elements. A row
// of like texts (the steps, the statistics, the summary lines, the checks)
// takes consecutive ids from its first.
enum class A11yText : uint32_t {
    Footer = 1,
    UpdateNotice,
    SetupTitle = 10,
    SetupSubtitle,
    ImageCard,
    ImageCardTitle,
    ImageVerdict,  // the pill of an accepted image
    ImageLine,     // the card's first line: the image's name, or what goes on
    ImageDetail,   // the line under it
    DownloadBar,
    UnsignedWarning,
    DriveCard = 20,
    DriveCardTitle,
    DriveStatus,  // "Ready" or "Choose a drive" beside the title
    DriveList,
    InsertDrive,
    InsertDriveHint,
    ProgressTitle = 30,
    Steps,  // one per step, up to four
    ProgressCard = 36,
    Phase,
    ProgressBar,
    LiveLine,  // what is being written or verified now
    Stats,     // four
    OutcomeTitle = 50,
    OutcomeText,
    SummaryCard,
    SummaryLines,  // up to three
    EjectFailed = 58,
    FailureDetails,
    Dialog = 60,
    DialogTitle,
    DialogText,
    DialogWarning,
    ThemeList,
    LanguageList,
    CheckVerdict,
    CheckRows,  // three
    CheckNote = 70,
    CheckBar,
    DialogDetail,  // a dialog's second paragraph
};

// A stable node id of an interactive element.
constexpr uint32_t a11y_id(ElementId element) {
    return (static_cast<uint32_t>(element.kind) + 1) << 24 | (element.param & 0xFFFFFF);
}
// A stable node id of a text, group or other non-interactive node.
constexpr uint32_t a11y_text_id(uint32_t role_id) {
    return 0x80000000u | role_id;
}
constexpr uint32_t a11y_text_id(A11yText role, uint32_t index = 0) {
    return a11y_text_id(static_cast<uint32_t>(role) + index);
}

}  // namespace sw
