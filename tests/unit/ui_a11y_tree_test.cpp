// What a screen reader is told of each frame: over every scripted screen in
// every language, each element a user can act on has one node named by what
// it shows, nodes lie in the window, an overlay hides the rest, the focus and
// the ids are right; and the roles and states of the setup, progress, failed
// and appearance screens.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "i18n/strings.h"
#include "ui/scripted/recording_canvas.h"
#include "ui/scripted/screens.h"
#include "ui/view.h"

namespace sw {
namespace {

struct Drawn {
    ScriptedScreen screen;
    std::vector<DrawOp> ops;
    const A11yTree& tree() const { return screen.state.last_frame.a11y; }
    const std::vector<HitRegion>& regions() const { return screen.state.last_frame.regions; }
};

Drawn draw(std::string_view name, uint8_t lang = 0) {
    auto screen = scripted_screen(name, lang);
    EXPECT_TRUE(screen) << name;
    Drawn d{std::move(*screen), {}};
    RecordingCanvas canvas;
    build_frame(d.screen.state, canvas, d.screen.now);
    d.ops = canvas.ops();
    return d;
}

void redraw(Drawn& d) {
    RecordingCanvas canvas;
    build_frame(d.screen.state, canvas, d.screen.now);
    d.ops = canvas.ops();
}

bool same_element(ElementId a, ElementId b) {
    return a == b && a.param == b.param;
}

std::vector<const A11yNode*> nodes_of(const A11yTree& tree, ElementId id) {
    std::vector<const A11yNode*> out;
    for (const auto& n : tree.nodes)
        if (!n.action.is_none() && same_element(n.action, id)) out.push_back(&n);
    return out;
}

const A11yNode* node_with_id(const A11yTree& tree, uint32_t id) {
    for (const auto& n : tree.nodes)
        if (n.id == id) return &n;
    return nullptr;
}

// A drawn text is part of a name when the name holds it, or, for a text
// cut to fit its box, what is left of it before the "…".
bool holds(const std::string& name, std::string text) {
    const std::string ellipsis = "…";
    if (text.size() >= ellipsis.size() && text.ends_with(ellipsis))
        text.resize(text.size() - ellipsis.size());
    return name.find(text) != std::string::npos;
}

// The texts a user sees: not cut off by a clip, nor under an overlay's scrim.
std::vector<const DrawOp*> visible_texts(const std::vector<DrawOp>& ops) {
    std::vector<const DrawOp*> out;
    std::vector<Rect> clips;
    for (const DrawOp& op : ops) {
        if (op.kind == DrawOp::PushClip) clips.push_back(op.rect);
        if (op.kind == DrawOp::PopClip && !clips.empty()) clips.pop_back();
        if (op.kind == DrawOp::FillRect && op.paint.slot == Slot::Scrim) out.clear();
        if (op.kind != DrawOp::Text || op.text.empty()) continue;
        float cx = op.rect.x + op.rect.w / 2, cy = op.rect.y + op.rect.h / 2;
        bool seen = true;
        for (const Rect& c : clips)
            seen = seen && c.contains(cx, cy);
        if (seen) out.push_back(&op);
    }
    return out;
}

bool inside(const Rect& inner, const Rect& outer) {
    return inner.x >= outer.x - 0.01f && inner.y >= outer.y - 0.01f &&
           inner.right() <= outer.right() + 0.01f && inner.bottom() <= outer.bottom() + 0.01f;
}

class EveryScreen : public ::testing::TestWithParam<uint8_t> {};

TEST_P(EveryScreen, EachRegionHasOneNodeNamedByWhatItShows) {
    const uint8_t lang = GetParam();
    for (std::string_view name : screen_names()) {
        SCOPED_TRACE(std::string(name) + " " + std::to_string(lang));
        Drawn d = draw(name, lang);
        for (const HitRegion& r : d.regions()) {
            // Under an open overlay the header's "…" still closes the
            // appearance panel for the pointer, but the dialog is modal to
            // a screen reader: its own Close button does the same.
            if (d.tree().modal && r.id.kind == UiAction::TogglePanel) continue;
            SCOPED_TRACE(std::string(action_name(r.id.kind)) + " " + std::to_string(r.id.param));
            auto found = nodes_of(d.tree(), r.id);
            ASSERT_EQ(found.size(), 1u);
            const A11yNode& n = *found[0];
            EXPECT_EQ(n.enabled, r.enabled) << "a disabled element says so";
            EXPECT_EQ(n.focusable, r.enabled);
            EXPECT_EQ(n.id, a11y_id(r.id));
            // Every text drawn over the element is in its name or description.
            int texts = 0;
            for (const DrawOp* op : visible_texts(d.ops)) {
                float cx = op->rect.x + op->rect.w / 2, cy = op->rect.y + op->rect.h / 2;
                if (!r.rect.contains(cx, cy)) continue;
                ++texts;
                EXPECT_TRUE(holds(n.name, op->text) || holds(n.help, op->text))
                    << "'" << op->text << "' is not in '" << n.name << "'";
            }
            if (texts == 0 && r.rect.h > 0) {
                // Only the "…" button shows no text: it is named by its panel.
                EXPECT_EQ(r.id.kind, UiAction::TogglePanel);
                EXPECT_EQ(n.name, text(static_cast<Language>(lang), TextId::SettingsTitle));
            }
        }
    }
}

TEST_P(EveryScreen, NodesAreNamedInsideTheWindowAndListedParentsFirst) {
    const uint8_t lang = GetParam();
    const Rect client{0, 0, kClientWidth, kClientHeight};
    for (std::string_view name : screen_names()) {
        SCOPED_TRACE(std::string(name) + " " + std::to_string(lang));
        Drawn d = draw(name, lang);
        const auto& nodes = d.tree().nodes;
        ASSERT_FALSE(nodes.empty());
        std::set<uint32_t> ids;
        for (size_t i = 0; i < nodes.size(); ++i) {
            const A11yNode& n = nodes[i];
            SCOPED_TRACE(n.name);
            EXPECT_FALSE(n.name.empty()) << "node " << i;
            EXPECT_NE(n.id, 0u);
            EXPECT_TRUE(ids.insert(n.id).second) << "id used twice: " << n.id;
            EXPECT_TRUE(inside(n.bounds, client));
            EXPECT_GE(n.bounds.w, 0);
            EXPECT_GE(n.bounds.h, 0);
            EXPECT_LT(n.parent, static_cast<int>(i));
            if (n.parent >= 0) {
                const A11yNode& p = nodes[static_cast<size_t>(n.parent)];
                EXPECT_TRUE(p.role == A11yRole::Group || p.role == A11yRole::List ||
                            p.role == A11yRole::Dialog);
                if (n.role == A11yRole::RadioButton) {
                    EXPECT_EQ(p.role, A11yRole::List);
                }
            } else {
                EXPECT_EQ(n.role == A11yRole::RadioButton, false) << "a radio button in a list";
            }
            if (n.value) {
                EXPECT_EQ(n.role, A11yRole::ProgressBar);
                EXPECT_GE(*n.value, 0);
                EXPECT_LE(*n.value, 100);
            }
        }
    }
}

TEST_P(EveryScreen, AnOpenOverlayIsTheOnlyThingInTheTree) {
    const uint8_t lang = GetParam();
    for (std::string_view name : screen_names()) {
        SCOPED_TRACE(std::string(name) + " " + std::to_string(lang));
        Drawn d = draw(name, lang);
        const auto& nodes = d.tree().nodes;
        const bool open = d.screen.state.overlay != Overlay::None;
        EXPECT_EQ(d.tree().modal, open);
        size_t dialogs = 0;
        for (size_t i = 0; i < nodes.size(); ++i) {
            dialogs += nodes[i].role == A11yRole::Dialog;
            if (open && i > 0) {
                EXPECT_NE(nodes[i].parent, -1) << nodes[i].name;
            }
        }
        EXPECT_EQ(dialogs, open ? 1u : 0u);
        if (open) {
            EXPECT_EQ(nodes[0].role, A11yRole::Dialog);
            // Nothing of the screen beneath, not even the header or footer.
            EXPECT_EQ(node_with_id(d.tree(), a11y_text_id(A11yText::Footer)), nullptr);
            EXPECT_TRUE(nodes_of(d.tree(), {UiAction::TogglePanel}).empty());
        }
    }
}

TEST_P(EveryScreen, TheFocusedNodeIsTheKeyboardFocusWhereverItGoes) {
    const uint8_t lang = GetParam();
    for (std::string_view name : screen_names()) {
        SCOPED_TRACE(std::string(name) + " " + std::to_string(lang));
        Drawn d = draw(name, lang);
        std::vector<ElementId> targets;
        for (const HitRegion& r : d.regions())
            if (r.enabled && !(d.tree().modal && r.id.kind == UiAction::TogglePanel))
                targets.push_back(r.id);
        for (ElementId target : targets) {
            d.screen.state.input.focus = target;
            d.screen.state.input.focus_visible = true;
            redraw(d);
            int focused = 0;
            for (const auto& n : d.tree().nodes) {
                if (!n.focused) continue;
                ++focused;
                EXPECT_TRUE(same_element(n.action, target)) << n.name;
            }
            EXPECT_EQ(focused, 1) << action_name(target.kind);
        }
        d.screen.state.input.focus = {};
        redraw(d);
        for (const auto& n : d.tree().nodes)
            EXPECT_FALSE(n.focused) << n.name;
    }
}

TEST_P(EveryScreen, IdsAreStableAcrossFramesAndLanguages) {
    const uint8_t lang = GetParam();
    for (std::string_view name : screen_names()) {
        SCOPED_TRACE(std::string(name) + " " + std::to_string(lang));
        Drawn d = draw(name, lang);
        auto ids = [](const A11yTree& t) {
            std::vector<uint32_t> out;
            for (const auto& n : t.nodes)
                out.push_back(n.id);
            return out;
        };
        std::vector<uint32_t> first = ids(d.tree());
        redraw(d);
        EXPECT_EQ(ids(d.tree()), first);
        // The same elements and texts in English, in the same order.
        EXPECT_EQ(ids(draw(name, 0).tree()), first);
    }
}

INSTANTIATE_TEST_SUITE_P(Languages, EveryScreen, ::testing::Values(0, 1, 2));

TEST(A11yTree, SetupNamesTheDrivesTheSwitchAndTheDisabledButton) {
    Drawn d = draw("setup-selected");
    const A11yTree& t = d.tree();
    const A11yNode* list = node_with_id(t, a11y_text_id(A11yText::DriveList));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->role, A11yRole::List);
    int radios = 0, selected = 0;
    for (const auto& n : t.nodes) {
        if (n.role != A11yRole::RadioButton) continue;
        ++radios;
        selected += n.selected;
        EXPECT_EQ(&t.nodes[static_cast<size_t>(n.parent)], list);
        EXPECT_EQ(n.action.kind, UiAction::SelectDrive);
    }
    EXPECT_GE(radios, 2);
    EXPECT_EQ(selected, 1);
    auto verify = nodes_of(t, {UiAction::ToggleVerify});
    ASSERT_EQ(verify.size(), 1u);
    EXPECT_EQ(verify[0]->role, A11yRole::Toggle);
    EXPECT_EQ(verify[0]->name, "Verify after writing");
    EXPECT_EQ(verify[0]->help, text(Language::English, TextId::VerifyDescription));
    EXPECT_EQ(verify[0]->toggled, std::optional<bool>(d.screen.state.appearance.prefs.verify));
    auto create = nodes_of(t, {UiAction::Create});
    ASSERT_EQ(create.size(), 1u);
    EXPECT_EQ(create[0]->role, A11yRole::Button);
    EXPECT_EQ(create[0]->name, "Create bootable USB");
    // Cards hold their content.
    const A11yNode* card = node_with_id(t, a11y_text_id(A11yText::ImageCard));
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(card->role, A11yRole::Group);
    auto select = nodes_of(t, {UiAction::SelectImage});
    ASSERT_EQ(select.size(), 1u);
    EXPECT_EQ(&t.nodes[static_cast<size_t>(select[0]->parent)], card);

    // Toggled off, the switch says so; with no drive chosen, Create is
    // there and unavailable.
    d.screen.state.appearance.prefs.verify = false;
    d.screen.state.drives.selected.reset();
    d.screen.state.phase = AppPhase::ImageReady;
    redraw(d);
    EXPECT_EQ(nodes_of(d.tree(), {UiAction::ToggleVerify})[0]->toggled, std::optional<bool>(false));
    ASSERT_EQ(nodes_of(d.tree(), {UiAction::Create}).size(), 1u);
    EXPECT_FALSE(nodes_of(d.tree(), {UiAction::Create})[0]->enabled);
    for (const auto& n : d.tree().nodes)
        EXPECT_FALSE(n.selected) << n.name;
}

TEST(A11yTree, ARefusedDriveIsListedUnavailableWithItsReason) {
    Drawn d = draw("setup-many-drives");
    int refused = 0;
    for (const auto& n : d.tree().nodes) {
        if (n.role != A11yRole::RadioButton || n.enabled) continue;
        ++refused;
        EXPECT_FALSE(n.focusable);
        // Its region is not recorded (it cannot be chosen), its node is.
        bool has_region = false;
        for (const auto& r : d.regions())
            has_region = has_region || same_element(r.id, n.action);
        EXPECT_FALSE(has_region) << n.name;
    }
    EXPECT_GT(refused, 0);
}

TEST(A11yTree, ScrolledOutOfSightNodesStayWithAnEmptyRectangleAtTheEdge) {
    Drawn d = draw("setup-many-drives-scrolled");
    ASSERT_GT(d.screen.state.geometry.scroll_limit, 0);
    const Rect view = d.screen.state.geometry.viewport;
    const A11yNode* title = node_with_id(d.tree(), a11y_text_id(A11yText::SetupTitle));
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->bounds.h, 0);
    EXPECT_EQ(title->bounds.y, view.y);
    // What is partly in sight is cut to the visible area; nothing of the
    // scrolled content reaches over the main button or the header.
    for (const auto& n : d.tree().nodes) {
        if (n.action.kind == UiAction::Create || n.action.kind == UiAction::TogglePanel ||
            n.id == a11y_text_id(A11yText::Footer) || n.id == a11y_text_id(A11yText::UpdateNotice))
            continue;
        EXPECT_TRUE(inside(n.bounds, view)) << n.name;
    }
}

TEST(A11yTree, ProgressReadsItsPhaseLiveLineAndValue) {
    Drawn d = draw("progress-writing");
    const A11yNode* bar = node_with_id(d.tree(), a11y_text_id(A11yText::ProgressBar));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->role, A11yRole::ProgressBar);
    EXPECT_EQ(bar->name, "Writing Ortivex");
    ASSERT_TRUE(bar->value);
    // The value is the percent the screen shows.
    std::string shown = std::to_string(static_cast<int>(*bar->value)) + "%";
    bool drawn = false;
    for (const DrawOp& op : d.ops)
        drawn = drawn || (op.kind == DrawOp::Text && op.text == shown);
    EXPECT_TRUE(drawn) << shown;
    const A11yNode* live = node_with_id(d.tree(), a11y_text_id(A11yText::LiveLine));
    ASSERT_NE(live, nullptr);
    EXPECT_EQ(live->role, A11yRole::Status);
    EXPECT_EQ(live->name.rfind("Writing ", 0), 0u) << live->name;
    const A11yNode* stat = node_with_id(d.tree(), a11y_text_id(A11yText::Stats));
    ASSERT_NE(stat, nullptr);
    EXPECT_EQ(stat->name.rfind("Written: ", 0), 0u) << stat->name;
    // Preparing: the bar cannot say how far.
    Drawn p = draw("progress-preparing");
    const A11yNode* pbar = node_with_id(p.tree(), a11y_text_id(A11yText::ProgressBar));
    ASSERT_NE(pbar, nullptr);
    EXPECT_FALSE(pbar->value);
}

TEST(A11yTree, FailureTitleCarriesTheAdviceAndDetailsSayWhetherOpen) {
    Drawn d = draw("failed");
    FailureMessage msg = failure_message(d.screen.state);
    const A11yNode* title = node_with_id(d.tree(), a11y_text_id(A11yText::OutcomeTitle));
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->name, msg.title);
    EXPECT_EQ(title->help, msg.advice);
    auto toggle = nodes_of(d.tree(), {UiAction::ToggleDetails});
    ASSERT_EQ(toggle.size(), 1u);
    EXPECT_EQ(toggle[0]->expanded, std::optional<bool>(false));
    EXPECT_EQ(node_with_id(d.tree(), a11y_text_id(A11yText::FailureDetails)), nullptr);
    Drawn open = draw("failed-details");
    EXPECT_EQ(nodes_of(open.tree(), {UiAction::ToggleDetails})[0]->expanded,
              std::optional<bool>(true));
    EXPECT_NE(node_with_id(open.tree(), a11y_text_id(A11yText::FailureDetails)), nullptr);
}

TEST(A11yTree, AppearancePanelHasTwoListsOfChoicesOneSelectedEach) {
    Drawn d = draw("overlay-appearance", 1);
    const A11yTree& t = d.tree();
    ASSERT_TRUE(t.modal);
    EXPECT_EQ(t.nodes[0].name, text(Language::Spanish, TextId::SettingsTitle));
    for (A11yText list : {A11yText::ThemeList, A11yText::LanguageList}) {
        const A11yNode* l = node_with_id(t, a11y_text_id(list));
        ASSERT_NE(l, nullptr);
        EXPECT_EQ(l->role, A11yRole::List);
        int choices = 0, selected = 0;
        for (const auto& n : t.nodes) {
            if (n.parent < 0 || &t.nodes[static_cast<size_t>(n.parent)] != l) continue;
            EXPECT_EQ(n.role, A11yRole::RadioButton);
            ++choices;
            selected += n.selected;
        }
        EXPECT_EQ(choices, 3);
        EXPECT_EQ(selected, 1);
    }
    auto spanish = nodes_of(t, {UiAction::SetLanguage, 1});
    ASSERT_EQ(spanish.size(), 1u);
    EXPECT_TRUE(spanish[0]->selected);
}

}  // namespace
}  // namespace sw
