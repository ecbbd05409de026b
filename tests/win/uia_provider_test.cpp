// The UI Automation providers over hand-made trees: navigation by the
// tree's parent indices, properties, screen rectangles, patterns acting
// through the source, and "not available" once a node or the window is gone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win/ui/uia_core.h"
#include "platform/win/ui/uia_provider.h"

namespace sw::win {
namespace {

using Microsoft::WRL::ComPtr;

constexpr auto kGone = static_cast<HRESULT>(UIA_E_ELEMENTNOTAVAILABLE);

struct FakeSource final : UiaSource {
    A11yTree nodes;
    double factor = 1.5;
    std::vector<ElementId> invoked, focused;

    const A11yTree& tree() const override { return nodes; }
    double scale() const override { return factor; }
    void invoke(ElementId e) override { invoked.push_back(e); }
    void focus(ElementId e) override { focused.push_back(e); }
};

A11yNode node(uint32_t id, A11yRole role, std::string name, int parent, Rect bounds,
              ElementId action = {}) {
    A11yNode n;
    n.id = id;
    n.role = role;
    n.name = std::move(name);
    n.parent = parent;
    n.bounds = bounds;
    n.action = action;
    n.focusable = !action.is_none();
    return n;
}

// A card with a title and a list of two drives, a button beside it, a
// switch, "Show details", a progress bar and the footer.
A11yTree sample_tree() {
    A11yTree t;
    t.nodes = {
        node(100, A11yRole::Group, "Drive", -1, {20, 20, 500, 300}),  // 0
        node(101, A11yRole::Text, "Drive", 0, {30, 30, 200, 20}),     // 1
        node(102, A11yRole::List, "Drives", 0, {30, 60, 480, 200}),   // 2
        node(a11y_id({UiAction::SelectDrive, 7}), A11yRole::RadioButton, "Stick 7", 2,
             {30, 60, 480, 60}, {UiAction::SelectDrive, 7}),  // 3
        node(a11y_id({UiAction::SelectDrive, 8}), A11yRole::RadioButton, "Unidad ñ 8", 2,
             {30, 130, 480, 60}, {UiAction::SelectDrive, 8}),  // 4
        node(a11y_id({UiAction::Create}), A11yRole::Button, "Create bootable USB", -1,
             {20, 340, 200, 40}, {UiAction::Create}),  // 5
        node(a11y_id({UiAction::ToggleVerify}), A11yRole::Toggle, "Verify after writing", -1,
             {20, 400, 300, 30}, {UiAction::ToggleVerify}),  // 6
        node(a11y_id({UiAction::ToggleDetails}), A11yRole::Button, "Show details", -1,
             {20, 440, 120, 30}, {UiAction::ToggleDetails}),                            // 7
        node(103, A11yRole::ProgressBar, "Progress", -1, {20, 480, 500, 8}),            // 8
        node(104, A11yRole::Status, "Ortivex Stickwright 1.0", -1, {0, 690, 560, 30}),  // 9
        node(105, A11yRole::Text, "Below", -1, {20, 720, 0, 0}),                        // 10
    };
    t.nodes[4].selected = true;
    t.nodes[5].enabled = false;
    t.nodes[6].toggled = true;
    t.nodes[6].help = "Reads the drive back";
    t.nodes[7].expanded = false;
    t.nodes[7].focused = true;
    t.nodes[8].value = 42.5;
    return t;
}

class UiaProviders : public ::testing::Test {
  protected:
    void SetUp() override {
        window = CreateWindowExW(0, L"STATIC", L"Ortivex Stickwright", WS_POPUP, 100, 50, 840, 1080,
                                 nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_TRUE(window);
        source.nodes = sample_tree();
        bridge = std::make_shared<UiaBridge>(window, &source);
        make_root_provider(bridge).As(&root);
        ASSERT_TRUE(root);
    }
    void TearDown() override {
        root.Reset();
        if (window) DestroyWindow(window);
    }

    ComPtr<IRawElementProviderFragment> go(IRawElementProviderFragment* from, NavigateDirection d) {
        ComPtr<IRawElementProviderFragment> to;
        EXPECT_EQ(from->Navigate(d, &to), S_OK);
        return to;
    }
    // The node id in a fragment's runtime id; 0 for none (the root).
    static uint32_t id_of(IRawElementProviderFragment* f) {
        if (!f) return 0xFFFFFFFF;
        SAFEARRAY* ids = nullptr;
        if (FAILED(f->GetRuntimeId(&ids)) || !ids) return 0;
        LONG i = 0;
        int first = 0, second = 0;
        SafeArrayGetElement(ids, &i, &first);
        i = 1;
        SafeArrayGetElement(ids, &i, &second);
        SafeArrayDestroy(ids);
        EXPECT_EQ(first, UiaAppendRuntimeId);
        return static_cast<uint32_t>(second);
    }
    ComPtr<IRawElementProviderFragment> fragment(uint32_t id) {
        ComPtr<IRawElementProviderFragment> f;
        make_node_provider(bridge, id).As(&f);
        return f;
    }
    template <typename I>
    ComPtr<I> pattern(uint32_t id, PATTERNID pattern_id) {
        ComPtr<IRawElementProviderSimple> simple = make_node_provider(bridge, id);
        ComPtr<IUnknown> unknown;
        EXPECT_EQ(simple->GetPatternProvider(pattern_id, &unknown), S_OK);
        ComPtr<I> p;
        if (unknown) EXPECT_EQ(unknown.As(&p), S_OK);
        return p;
    }
    VARIANT property(uint32_t id, PROPERTYID property_id) {
        VARIANT v;
        EXPECT_EQ(make_node_provider(bridge, id)->GetPropertyValue(property_id, &v), S_OK);
        return v;
    }
    std::wstring text(uint32_t id, PROPERTYID property_id) {
        VARIANT v = property(id, property_id);
        std::wstring s = v.vt == VT_BSTR ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal)) : L"?";
        VariantClear(&v);
        return s;
    }
    int number(uint32_t id, PROPERTYID property_id) {
        VARIANT v = property(id, property_id);
        return v.vt == VT_I4 ? v.lVal : v.vt == VT_BOOL ? (v.boolVal ? 1 : 0) : -1;
    }

    HWND window = nullptr;
    FakeSource source;
    std::shared_ptr<UiaBridge> bridge;
    ComPtr<IRawElementProviderFragmentRoot> root;
};

const uint32_t kDrive7 = a11y_id({UiAction::SelectDrive, 7});
const uint32_t kDrive8 = a11y_id({UiAction::SelectDrive, 8});
const uint32_t kCreate = a11y_id({UiAction::Create});
const uint32_t kVerify = a11y_id({UiAction::ToggleVerify});
const uint32_t kDetails = a11y_id({UiAction::ToggleDetails});

TEST_F(UiaProviders, NavigationFollowsTheParentIndicesInReadingOrder) {
    ComPtr<IRawElementProviderFragment> top;
    ASSERT_EQ(root.As(&top), S_OK);
    // The top level, forwards and backwards.
    std::vector<uint32_t> seen;
    for (auto f = go(top.Get(), NavigateDirection_FirstChild); f;
         f = go(f.Get(), NavigateDirection_NextSibling))
        seen.push_back(id_of(f.Get()));
    EXPECT_EQ(seen, (std::vector<uint32_t>{100, kCreate, kVerify, kDetails, 103, 104, 105}));
    seen.clear();
    for (auto f = go(top.Get(), NavigateDirection_LastChild); f;
         f = go(f.Get(), NavigateDirection_PreviousSibling))
        seen.push_back(id_of(f.Get()));
    EXPECT_EQ(seen, (std::vector<uint32_t>{105, 104, 103, kDetails, kVerify, kCreate, 100}));

    // Down into the card and its list, and back up to the root.
    auto card = go(top.Get(), NavigateDirection_FirstChild);
    auto title = go(card.Get(), NavigateDirection_FirstChild);
    EXPECT_EQ(id_of(title.Get()), 101u);
    auto list = go(card.Get(), NavigateDirection_LastChild);
    EXPECT_EQ(id_of(list.Get()), 102u);
    EXPECT_EQ(id_of(go(title.Get(), NavigateDirection_NextSibling).Get()), 102u);
    EXPECT_FALSE(go(list.Get(), NavigateDirection_NextSibling));
    auto first = go(list.Get(), NavigateDirection_FirstChild);
    EXPECT_EQ(id_of(first.Get()), kDrive7);
    EXPECT_EQ(id_of(go(first.Get(), NavigateDirection_NextSibling).Get()), kDrive8);
    EXPECT_FALSE(go(first.Get(), NavigateDirection_PreviousSibling));
    EXPECT_FALSE(go(first.Get(), NavigateDirection_FirstChild));
    EXPECT_EQ(id_of(go(first.Get(), NavigateDirection_Parent).Get()), 102u);
    auto up = go(card.Get(), NavigateDirection_Parent);
    ComPtr<IRawElementProviderFragmentRoot> same;
    ASSERT_TRUE(up);
    ASSERT_EQ(up.As(&same), S_OK);
    EXPECT_EQ(same.Get(), root.Get());  // the one root the window hands out
    ComPtr<IRawElementProviderFragmentRoot> from_node;
    ASSERT_EQ(first->get_FragmentRoot(&from_node), S_OK);
    EXPECT_EQ(from_node.Get(), root.Get());
    // The root's own place is its window's: the host answers for it.
    EXPECT_FALSE(go(top.Get(), NavigateDirection_Parent));
    EXPECT_FALSE(go(top.Get(), NavigateDirection_NextSibling));
}

TEST_F(UiaProviders, PropertiesAndScreenRectangles) {
    EXPECT_EQ(text(kDrive8, UIA_NamePropertyId), L"Unidad \u00f1 8");
    EXPECT_EQ(number(100, UIA_ControlTypePropertyId), uia::kGroup);
    EXPECT_EQ(number(101, UIA_ControlTypePropertyId), uia::kText);
    EXPECT_EQ(number(102, UIA_ControlTypePropertyId), uia::kList);
    EXPECT_EQ(number(kDrive7, UIA_ControlTypePropertyId), uia::kRadioButton);
    EXPECT_EQ(number(kCreate, UIA_ControlTypePropertyId), uia::kButton);
    EXPECT_EQ(number(kVerify, UIA_ControlTypePropertyId), uia::kCheckBox);
    EXPECT_EQ(number(103, UIA_ControlTypePropertyId), uia::kProgressBar);
    EXPECT_EQ(number(104, UIA_ControlTypePropertyId), uia::kStatusBar);
    EXPECT_EQ(text(kVerify, UIA_HelpTextPropertyId), L"Reads the drive back");
    EXPECT_EQ(property(kCreate, UIA_HelpTextPropertyId).vt, VT_EMPTY);
    // A disabled button is there and says so.
    EXPECT_EQ(number(kCreate, UIA_IsEnabledPropertyId), 0);
    EXPECT_EQ(number(kDetails, UIA_IsEnabledPropertyId), 1);
    EXPECT_EQ(number(kDetails, UIA_HasKeyboardFocusPropertyId), 1);
    EXPECT_EQ(number(kCreate, UIA_HasKeyboardFocusPropertyId), 0);
    EXPECT_EQ(number(kCreate, UIA_IsKeyboardFocusablePropertyId), 1);
    EXPECT_EQ(number(101, UIA_IsKeyboardFocusablePropertyId), 0);
    EXPECT_EQ(text(104, UIA_AutomationIdPropertyId), L"104");
    EXPECT_EQ(number(104, UIA_LiveSettingPropertyId), uia::LiveSetting_Polite);
    EXPECT_EQ(property(101, UIA_LiveSettingPropertyId).vt, VT_EMPTY);
    EXPECT_EQ(number(105, UIA_IsOffscreenPropertyId), 1);
    EXPECT_EQ(number(kDrive8, UIA_IsOffscreenPropertyId), 0);

    // Device-independent pixels scaled (here by 1.5) from the client area's origin.
    POINT origin{0, 0};
    ASSERT_TRUE(ClientToScreen(window, &origin));
    UiaRect r{};
    ASSERT_EQ(fragment(kDrive8)->get_BoundingRectangle(&r), S_OK);
    EXPECT_DOUBLE_EQ(r.left, origin.x + 45);
    EXPECT_DOUBLE_EQ(r.top, origin.y + 195);
    EXPECT_DOUBLE_EQ(r.width, 720);
    EXPECT_DOUBLE_EQ(r.height, 90);
    UiaRect odd = screen_rect({10.5f, 3.f, 0.5f, 1.f}, 1.25, POINT{-7, 2});
    EXPECT_DOUBLE_EQ(odd.left, 13 - 7);  // edges rounded, so neighbours meet
    EXPECT_DOUBLE_EQ(odd.width, 14 - 13);
    EXPECT_DOUBLE_EQ(odd.top, 4 + 2);

    // The dialog says it is one.
    source.nodes.nodes[0].role = A11yRole::Dialog;
    EXPECT_EQ(number(100, UIA_ControlTypePropertyId), uia::kWindow);
    EXPECT_EQ(number(100, uia::kIsDialogProperty), 1);
    // The root names its window.
    VARIANT v;
    ComPtr<IRawElementProviderSimple> simple;
    ASSERT_EQ(root.As(&simple), S_OK);
    ASSERT_EQ(simple->GetPropertyValue(UIA_NamePropertyId, &v), S_OK);
    ASSERT_EQ(v.vt, VT_BSTR);
    EXPECT_EQ(std::wstring(v.bstrVal), L"Ortivex Stickwright");
    VariantClear(&v);
}

TEST_F(UiaProviders, PatternsActThroughTheSourceAsAClickWould) {
    // Texts and groups offer none.
    EXPECT_FALSE(pattern<IInvokeProvider>(101, UIA_InvokePatternId));
    EXPECT_FALSE(pattern<IInvokeProvider>(kDrive7, UIA_InvokePatternId));

    auto details = pattern<IInvokeProvider>(kDetails, UIA_InvokePatternId);
    ASSERT_TRUE(details);
    EXPECT_EQ(details->Invoke(), S_OK);
    // A disabled button refuses, and nothing is run.
    auto create = pattern<IInvokeProvider>(kCreate, UIA_InvokePatternId);
    ASSERT_TRUE(create);
    EXPECT_EQ(create->Invoke(), static_cast<HRESULT>(UIA_E_ELEMENTNOTENABLED));
    EXPECT_EQ(source.invoked, (std::vector<ElementId>{{UiAction::ToggleDetails}}));
    source.invoked.clear();

    auto verify = pattern<IToggleProvider>(kVerify, UIA_TogglePatternId);
    ASSERT_TRUE(verify);
    uia::ToggleState state{};
    ASSERT_EQ(verify->get_ToggleState(&state), S_OK);
    EXPECT_EQ(state, uia::ToggleState_On);
    EXPECT_EQ(verify->Toggle(), S_OK);

    // One drive at a time: selecting the chosen one runs nothing.
    auto seven = pattern<ISelectionItemProvider>(kDrive7, UIA_SelectionItemPatternId);
    auto eight = pattern<ISelectionItemProvider>(kDrive8, UIA_SelectionItemPatternId);
    ASSERT_TRUE(seven && eight);
    BOOL selected = TRUE;
    ASSERT_EQ(seven->get_IsSelected(&selected), S_OK);
    EXPECT_FALSE(selected);
    EXPECT_EQ(eight->Select(), S_OK);
    EXPECT_EQ(seven->Select(), S_OK);
    EXPECT_EQ(eight->RemoveFromSelection(), static_cast<HRESULT>(UIA_E_INVALIDOPERATION));
    ComPtr<IRawElementProviderSimple> container;
    ASSERT_EQ(seven->get_SelectionContainer(&container), S_OK);
    ComPtr<IRawElementProviderFragment> container_fragment;
    ASSERT_EQ(container.As(&container_fragment), S_OK);
    EXPECT_EQ(id_of(container_fragment.Get()), 102u);
    auto list = pattern<ISelectionProvider>(102, UIA_SelectionPatternId);
    ASSERT_TRUE(list);
    SAFEARRAY* chosen = nullptr;
    ASSERT_EQ(list->GetSelection(&chosen), S_OK);
    ASSERT_EQ(chosen->rgsabound[0].cElements, 1u);
    LONG at = 0;
    IUnknown* item = nullptr;
    ASSERT_EQ(SafeArrayGetElement(chosen, &at, &item), S_OK);
    ComPtr<IRawElementProviderFragment> item_fragment;
    ASSERT_EQ(item->QueryInterface(IID_PPV_ARGS(&item_fragment)), S_OK);
    EXPECT_EQ(id_of(item_fragment.Get()), kDrive8);
    item->Release();
    SafeArrayDestroy(chosen);

    // "Show details" is collapsed: collapsing runs nothing, expanding runs it.
    auto expand = pattern<IExpandCollapseProvider>(kDetails, UIA_ExpandCollapsePatternId);
    ASSERT_TRUE(expand);
    EXPECT_EQ(expand->Collapse(), S_OK);
    EXPECT_EQ(expand->Expand(), S_OK);
    EXPECT_FALSE(pattern<IExpandCollapseProvider>(kCreate, UIA_ExpandCollapsePatternId));

    EXPECT_EQ(source.invoked, (std::vector<ElementId>{{UiAction::ToggleVerify},
                                                      {UiAction::SelectDrive, 7},
                                                      {UiAction::ToggleDetails}}));

    auto bar = pattern<IRangeValueProvider>(103, UIA_RangeValuePatternId);
    ASSERT_TRUE(bar);
    double value = 0, top = 0;
    BOOL read_only = FALSE;
    ASSERT_EQ(bar->get_Value(&value), S_OK);
    EXPECT_DOUBLE_EQ(value, 42.5);
    ASSERT_EQ(bar->get_Maximum(&top), S_OK);
    EXPECT_DOUBLE_EQ(top, 100);
    ASSERT_EQ(bar->get_IsReadOnly(&read_only), S_OK);
    EXPECT_TRUE(read_only);
    EXPECT_NE(bar->SetValue(10), S_OK);

    // Focus goes only where the keyboard can go.
    EXPECT_EQ(fragment(kDrive7)->SetFocus(), S_OK);
    EXPECT_NE(fragment(101)->SetFocus(), S_OK);
    EXPECT_EQ(source.focused, (std::vector<ElementId>{{UiAction::SelectDrive, 7}}));
}

TEST_F(UiaProviders, PointAndFocusLookUps) {
    POINT origin{0, 0};
    ASSERT_TRUE(ClientToScreen(window, &origin));
    auto at = [&](double x, double y) {
        ComPtr<IRawElementProviderFragment> f;
        EXPECT_EQ(root->ElementProviderFromPoint(origin.x + x * 1.5, origin.y + y * 1.5, &f), S_OK);
        return f;
    };
    EXPECT_EQ(id_of(at(100, 150).Get()), kDrive8);  // the row, not its list or card
    EXPECT_EQ(id_of(at(300, 220).Get()), 102u);     // in the list, below its rows
    EXPECT_EQ(id_of(at(25, 25).Get()), 100u);
    ComPtr<IRawElementProviderFragmentRoot> same;
    auto nothing_there = at(540, 600);
    ASSERT_TRUE(nothing_there);
    EXPECT_EQ(nothing_there.As(&same), S_OK);  // the client area itself
    EXPECT_FALSE(at(-50, 100));                // outside the window

    ComPtr<IRawElementProviderFragment> focus;
    ASSERT_EQ(root->GetFocus(&focus), S_OK);
    EXPECT_EQ(id_of(focus.Get()), kDetails);
    source.nodes.nodes[7].focused = false;
    ASSERT_EQ(root->GetFocus(&focus), S_OK);
    EXPECT_FALSE(focus);
}

TEST_F(UiaProviders, NotAvailableOnceTheNodeOrTheWindowIsGone) {
    auto held = fragment(kDetails);
    auto invoke = pattern<IInvokeProvider>(kDetails, UIA_InvokePatternId);
    ASSERT_TRUE(invoke);
    // Another screen: the node is no longer in the tree.
    A11yTree other;
    other.nodes = {node(200, A11yRole::Text, "Writing", -1, {0, 0, 10, 10})};
    std::swap(source.nodes, other);
    VARIANT v;
    UiaRect r{};
    ComPtr<IRawElementProviderFragment> to;
    SAFEARRAY* ids = nullptr;
    EXPECT_EQ(make_node_provider(bridge, kDetails)->GetPropertyValue(UIA_NamePropertyId, &v),
              kGone);
    EXPECT_EQ(held->get_BoundingRectangle(&r), kGone);
    EXPECT_EQ(held->Navigate(NavigateDirection_Parent, &to), kGone);
    EXPECT_EQ(held->GetRuntimeId(&ids), kGone);
    EXPECT_EQ(invoke->Invoke(), kGone);
    EXPECT_TRUE(source.invoked.empty());
    // Back again with the same id: the same element.
    std::swap(source.nodes, other);
    EXPECT_EQ(held->get_BoundingRectangle(&r), S_OK);

    // The window goes: everything a client holds answers "not available".
    bridge->clear();
    ComPtr<IRawElementProviderSimple> simple;
    ASSERT_EQ(root.As(&simple), S_OK);
    EXPECT_EQ(simple->GetPropertyValue(UIA_NamePropertyId, &v), kGone);
    EXPECT_EQ(root->GetFocus(&to), kGone);
    EXPECT_EQ(root->ElementProviderFromPoint(0, 0, &to), kGone);
    EXPECT_EQ(held->get_BoundingRectangle(&r), kGone);
    EXPECT_EQ(invoke->Invoke(), kGone);
    EXPECT_EQ(held->SetFocus(), kGone);
    EXPECT_TRUE(source.invoked.empty());
    EXPECT_TRUE(source.focused.empty());
}

TEST(UiaTreeChanges, StructureFocusAndStatesBetweenFrames) {
    A11yTree before = sample_tree();
    EXPECT_TRUE(tree_changes(before, before).empty());

    A11yTree after = before;
    after.nodes[7].focused = false;
    after.nodes[6].focused = true;
    after.nodes[6].toggled = false;
    after.nodes[3].selected = true;
    after.nodes[4].selected = false;
    after.nodes[7].expanded = true;
    after.nodes[8].value = 50;
    after.nodes[9].name = "another footer";  // a name alone is no event here
    auto changes = tree_changes(before, after);
    ASSERT_EQ(changes.size(), 6u);
    EXPECT_EQ(changes[0].kind, UiaChange::Focus);
    EXPECT_EQ(changes[0].id, kVerify);
    EXPECT_EQ(changes[1].kind, UiaChange::Selection);
    EXPECT_EQ(changes[1].id, kDrive7);
    EXPECT_EQ(changes[1].after, 1);
    EXPECT_EQ(changes[2].kind, UiaChange::Selection);
    EXPECT_EQ(changes[2].id, kDrive8);
    EXPECT_EQ(changes[3].kind, UiaChange::Toggle);
    EXPECT_EQ(changes[3].before, 1);
    EXPECT_EQ(changes[3].after, 0);
    EXPECT_EQ(changes[4].kind, UiaChange::Expansion);
    EXPECT_EQ(changes[5].kind, UiaChange::Value);
    EXPECT_DOUBLE_EQ(changes[5].before, 42.5);
    EXPECT_DOUBLE_EQ(changes[5].after, 50);

    // Another screen or an overlay: the set of nodes changes.
    A11yTree overlay;
    overlay.modal = true;
    overlay.nodes = {node(60, A11yRole::Dialog, "Erase", -1, {0, 0, 100, 100})};
    overlay.nodes[0].focused = true;
    changes = tree_changes(before, overlay);
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].kind, UiaChange::Structure);
    EXPECT_EQ(changes[1].kind, UiaChange::Focus);
    // The focus leaving every node is no focus event.
    A11yTree unfocused = before;
    unfocused.nodes[7].focused = false;
    EXPECT_TRUE(tree_changes(before, unfocused).empty());
}

TEST(UiaWindowAnnouncements, WithoutNotificationEventsTheLiveLineHoldsTheText) {
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(window);
    FakeSource source;
    source.nodes = sample_tree();
    {
        UiaWindow uia(window, source);
        uia.announce("Writing Ortivex");
        uia.announce("Verifying Ortivex");
        ComPtr<IRawElementProviderFragmentRoot> root;
        ASSERT_EQ(uia.root()->QueryInterface(IID_PPV_ARGS(&root)), S_OK);
        ComPtr<IRawElementProviderFragment> top, last;
        ASSERT_EQ(root.As(&top), S_OK);
        ASSERT_EQ(top->Navigate(NavigateDirection_LastChild, &last), S_OK);
        ComPtr<IRawElementProviderSimple> line;
        ASSERT_EQ(last.As(&line), S_OK);
        VARIANT name, live;
        ASSERT_EQ(line->GetPropertyValue(UIA_NamePropertyId, &name), S_OK);
        ASSERT_EQ(line->GetPropertyValue(UIA_LiveSettingPropertyId, &live), S_OK);
        if (uia_core().raise_notification) {
            // The system announces it: no line is added.
            EXPECT_EQ(std::wstring(name.bstrVal), L"Below");
        } else {
            EXPECT_EQ(std::wstring(name.bstrVal), L"Verifying Ortivex");
            EXPECT_EQ(live.lVal, uia::LiveSetting_Assertive);
        }
        VariantClear(&name);
        // The window goes: the root it handed out answers "not available".
        uia.window_destroyed();
        VARIANT after;
        EXPECT_EQ(line->GetPropertyValue(UIA_NamePropertyId, &after), kGone);
        ComPtr<IRawElementProviderSimple> simple;
        ASSERT_EQ(root.As(&simple), S_OK);
        EXPECT_EQ(simple->GetPropertyValue(UIA_NamePropertyId, &after), kGone);
        EXPECT_FALSE(uia.get_object(0, static_cast<LPARAM>(UiaRootObjectId)));
    }
    DestroyWindow(window);
}

}  // namespace
}  // namespace sw::win
