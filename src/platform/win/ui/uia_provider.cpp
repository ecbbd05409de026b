#include "platform/win/ui/uia_provider.h"

#include <oleauto.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <utility>

#include "platform/win/ui/uia_core.h"
#include "platform/win/wide.h"

namespace sw::win {

using Microsoft::WRL::ComPtr;

namespace {

constexpr EVENTID kElementSelectedEvent = 20012;
constexpr auto kNotAvailable = static_cast<HRESULT>(UIA_E_ELEMENTNOTAVAILABLE);
constexpr auto kNotEnabled = static_cast<HRESULT>(UIA_E_ELEMENTNOTENABLED);
constexpr auto kInvalidOperation = static_cast<HRESULT>(UIA_E_INVALIDOPERATION);

void set_text(VARIANT* v, std::string_view utf8) {
    std::wstring w = widen(utf8);
    v->vt = VT_BSTR;
    v->bstrVal = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
}
void set_bool(VARIANT* v, bool b) {
    v->vt = VT_BOOL;
    v->boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
}
void set_int(VARIANT* v, int i) {
    v->vt = VT_I4;
    v->lVal = i;
}

CONTROLTYPEID control_type(A11yRole role) {
    switch (role) {
        case A11yRole::Group:
            return uia::kGroup;
        case A11yRole::Dialog:
            return uia::kWindow;
        case A11yRole::Button:
            return uia::kButton;
        case A11yRole::RadioButton:
            return uia::kRadioButton;
        case A11yRole::Toggle:
            return uia::kCheckBox;
        case A11yRole::ProgressBar:
            return uia::kProgressBar;
        case A11yRole::Text:
            return uia::kText;
        case A11yRole::Status:
            return uia::kStatusBar;
        case A11yRole::List:
            return uia::kList;
    }
    return uia::kText;
}

POINT client_origin(HWND window) {
    POINT origin{0, 0};
    if (window) ClientToScreen(window, &origin);
    return origin;
}

// Reference counting shared by the providers; they live on the window's
// thread, but a client may release them from another.
class RefCount {
  public:
    ULONG add() { return ++count_; }
    ULONG release() { return --count_; }

  private:
    std::atomic<ULONG> count_{1};
};

// The provider of the index-th node as clients see them.
ComPtr<IRawElementProviderFragment> fragment_at(const std::shared_ptr<UiaBridge>& bridge,
                                                size_t index) {
    ComPtr<IRawElementProviderFragment> f;
    make_node_provider(bridge, bridge->at(index).id).As(&f);
    return f;
}

// The first or last child of `parent` (-1: the root), if any.
std::optional<size_t> child_of(const UiaBridge& bridge, int parent, bool last) {
    std::optional<size_t> found;
    for (size_t i = 0; i < bridge.size(); ++i) {
        if (bridge.at(i).parent != parent) continue;
        found = i;
        if (!last) break;
    }
    return found;
}

// The root's provider: the one the window handed out while it lives.
ComPtr<IRawElementProviderFragmentRoot> root_of(const std::shared_ptr<UiaBridge>& bridge) {
    ComPtr<IRawElementProviderFragmentRoot> root;
    make_root_provider(bridge).As(&root);
    return root;
}

class RootProvider final : public IRawElementProviderSimple,
                           public IRawElementProviderFragment,
                           public IRawElementProviderFragmentRoot {
  public:
    explicit RootProvider(std::shared_ptr<UiaBridge> bridge) : bridge_(std::move(bridge)) {}

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IRawElementProviderSimple))
            *out = static_cast<IRawElementProviderSimple*>(this);
        else if (iid == __uuidof(IRawElementProviderFragment))
            *out = static_cast<IRawElementProviderFragment*>(this);
        else if (iid == __uuidof(IRawElementProviderFragmentRoot))
            *out = static_cast<IRawElementProviderFragmentRoot*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.add(); }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG n = refs_.release();
        if (n == 0) delete this;
        return n;
    }

    // IRawElementProviderSimple
    HRESULT STDMETHODCALLTYPE get_ProviderOptions(ProviderOptions* out) override {
        if (!out) return E_POINTER;
        *out = static_cast<ProviderOptions>(ProviderOptions_ServerSideProvider |
                                            ProviderOptions_UseComThreading);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPatternProvider(PATTERNID, IUnknown** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return gone() ? kNotAvailable : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPropertyValue(PROPERTYID property, VARIANT* out) override {
        if (!out) return E_POINTER;
        VariantInit(out);
        if (gone()) return kNotAvailable;
        if (property == UIA_NamePropertyId) {
            wchar_t title[256];
            int n = GetWindowTextW(bridge_->window(), title, 256);
            set_text(out, narrow(title, static_cast<size_t>(std::max(n, 0))));
        } else if (property == UIA_ControlTypePropertyId) {
            set_int(out, uia::kWindow);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_HostRawElementProvider(IRawElementProviderSimple** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (gone()) return kNotAvailable;
        const UiaCore& core = uia_core();
        if (!core.host_provider_from_hwnd) return S_OK;
        return core.host_provider_from_hwnd(bridge_->window(), out);
    }

    // IRawElementProviderFragment
    HRESULT STDMETHODCALLTYPE Navigate(NavigateDirection direction,
                                       IRawElementProviderFragment** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (gone()) return kNotAvailable;
        if (direction != NavigateDirection_FirstChild && direction != NavigateDirection_LastChild)
            return S_OK;  // the host answers for the window's own place
        if (auto i = child_of(*bridge_, -1, direction == NavigateDirection_LastChild))
            *out = fragment_at(bridge_, *i).Detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRuntimeId(SAFEARRAY** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;  // the host's window gives the root its id
        return gone() ? kNotAvailable : S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_BoundingRectangle(UiaRect* out) override {
        if (!out) return E_POINTER;
        *out = UiaRect{0, 0, 0, 0};  // the host's window gives the root its place
        return gone() ? kNotAvailable : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetEmbeddedFragmentRoots(SAFEARRAY** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetFocus() override { return gone() ? kNotAvailable : S_OK; }
    HRESULT STDMETHODCALLTYPE get_FragmentRoot(IRawElementProviderFragmentRoot** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (gone()) return kNotAvailable;
        *out = this;
        AddRef();
        return S_OK;
    }

    // IRawElementProviderFragmentRoot
    HRESULT STDMETHODCALLTYPE ElementProviderFromPoint(double x, double y,
                                                       IRawElementProviderFragment** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (gone()) return kNotAvailable;
        const POINT origin = client_origin(bridge_->window());
        const double scale = bridge_->source()->scale();
        const auto dx = static_cast<float>((x - origin.x) / scale);
        const auto dy = static_cast<float>((y - origin.y) / scale);
        // Children follow their parents: the last node holding the point is
        // the innermost.
        for (size_t i = bridge_->size(); i-- > 0;) {
            if (bridge_->at(i).bounds.contains(dx, dy)) {
                *out = fragment_at(bridge_, i).Detach();
                return S_OK;
            }
        }
        RECT client{};
        GetClientRect(bridge_->window(), &client);
        POINT p{static_cast<LONG>(std::floor(x)) - origin.x,
                static_cast<LONG>(std::floor(y)) - origin.y};
        if (PtInRect(&client, p)) {
            *out = this;
            AddRef();
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFocus(IRawElementProviderFragment** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (gone()) return kNotAvailable;
        for (size_t i = 0; i < bridge_->size(); ++i)
            if (bridge_->at(i).focused) *out = fragment_at(bridge_, i).Detach();
        return S_OK;
    }

  private:
    ~RootProvider() {
        if (bridge_->root == this) bridge_->root = nullptr;
    }
    bool gone() const { return bridge_->source() == nullptr; }

    RefCount refs_;
    std::shared_ptr<UiaBridge> bridge_;
};

class NodeProvider final : public IRawElementProviderSimple,
                           public IRawElementProviderFragment,
                           public IInvokeProvider,
                           public IToggleProvider,
                           public ISelectionProvider,
                           public ISelectionItemProvider,
                           public IExpandCollapseProvider,
                           public IRangeValueProvider {
  public:
    NodeProvider(std::shared_ptr<UiaBridge> bridge, uint32_t id)
        : bridge_(std::move(bridge)), id_(id) {}

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IRawElementProviderSimple))
            *out = static_cast<IRawElementProviderSimple*>(this);
        else if (iid == __uuidof(IRawElementProviderFragment))
            *out = static_cast<IRawElementProviderFragment*>(this);
        else if (iid == __uuidof(IInvokeProvider))
            *out = static_cast<IInvokeProvider*>(this);
        else if (iid == __uuidof(IToggleProvider))
            *out = static_cast<IToggleProvider*>(this);
        else if (iid == __uuidof(ISelectionProvider))
            *out = static_cast<ISelectionProvider*>(this);
        else if (iid == __uuidof(ISelectionItemProvider))
            *out = static_cast<ISelectionItemProvider*>(this);
        else if (iid == __uuidof(IExpandCollapseProvider))
            *out = static_cast<IExpandCollapseProvider*>(this);
        else if (iid == __uuidof(IRangeValueProvider))
            *out = static_cast<IRangeValueProvider*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.add(); }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG n = refs_.release();
        if (n == 0) delete this;
        return n;
    }

    // IRawElementProviderSimple
    HRESULT STDMETHODCALLTYPE get_ProviderOptions(ProviderOptions* out) override {
        if (!out) return E_POINTER;
        *out = static_cast<ProviderOptions>(ProviderOptions_ServerSideProvider |
                                            ProviderOptions_UseComThreading);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPatternProvider(PATTERNID pattern, IUnknown** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        const A11yNode* n = node();
        if (!n) return kNotAvailable;
        const bool acts = !n->action.is_none();
        if (pattern == UIA_InvokePatternId && n->role == A11yRole::Button && acts)
            *out = static_cast<IInvokeProvider*>(this);
        else if (pattern == UIA_TogglePatternId && n->role == A11yRole::Toggle && acts)
            *out = static_cast<IToggleProvider*>(this);
        else if (pattern == UIA_SelectionItemPatternId && n->role == A11yRole::RadioButton && acts)
            *out = static_cast<ISelectionItemProvider*>(this);
        else if (pattern == UIA_SelectionPatternId && n->role == A11yRole::List)
            *out = static_cast<ISelectionProvider*>(this);
        else if (pattern == UIA_ExpandCollapsePatternId && n->expanded && acts)
            *out = static_cast<IExpandCollapseProvider*>(this);
        else if (pattern == UIA_RangeValuePatternId && n->role == A11yRole::ProgressBar)
            *out = static_cast<IRangeValueProvider*>(this);
        if (*out) AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPropertyValue(PROPERTYID property, VARIANT* out) override {
        if (!out) return E_POINTER;
        VariantInit(out);
        const A11yNode* n = node();
        if (!n) return kNotAvailable;
        switch (property) {
            case UIA_NamePropertyId:
                set_text(out, n->name);
                break;
            case UIA_ControlTypePropertyId:
                set_int(out, control_type(n->role));
                break;
            case UIA_HelpTextPropertyId:
                if (!n->help.empty()) set_text(out, n->help);
                break;
            case UIA_IsEnabledPropertyId:
                set_bool(out, n->enabled);
                break;
            case UIA_HasKeyboardFocusPropertyId:
                set_bool(out, n->focused);
                break;
            case UIA_IsKeyboardFocusablePropertyId:
                set_bool(out, n->focusable);
                break;
            case UIA_AutomationIdPropertyId:
                set_text(out, std::to_string(n->id));
                break;
            case UIA_IsOffscreenPropertyId:
                set_bool(out, offscreen(*n));
                break;
            case UIA_LiveSettingPropertyId:
                if (n->role == A11yRole::Status)
                    set_int(out, n->id == kAnnouncementNodeId ? uia::LiveSetting_Assertive
                                                              : uia::LiveSetting_Polite);
                break;
            case uia::kIsDialogProperty:
                if (n->role == A11yRole::Dialog) set_bool(out, true);
                break;
            default:
                break;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_HostRawElementProvider(IRawElementProviderSimple** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return S_OK;
    }

    // IRawElementProviderFragment
    HRESULT STDMETHODCALLTYPE Navigate(NavigateDirection direction,
                                       IRawElementProviderFragment** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        size_t index = 0;
        const A11yNode* n = node(&index);
        if (!n) return kNotAvailable;
        const UiaBridge& b = *bridge_;
        std::optional<size_t> to;
        switch (direction) {
            case NavigateDirection_Parent:
                if (n->parent < 0) {
                    ComPtr<IRawElementProviderFragment> root;
                    root_of(bridge_).As(&root);
                    *out = root.Detach();
                    return S_OK;
                }
                to = static_cast<size_t>(n->parent);
                break;
            case NavigateDirection_NextSibling:
                for (size_t i = index + 1; i < b.size() && !to; ++i)
                    if (b.at(i).parent == n->parent) to = i;
                break;
            case NavigateDirection_PreviousSibling:
                for (size_t i = index; i-- > 0 && !to;)
                    if (b.at(i).parent == n->parent) to = i;
                break;
            case NavigateDirection_FirstChild:
            case NavigateDirection_LastChild:
                to = child_of(b, static_cast<int>(index), direction == NavigateDirection_LastChild);
                break;
        }
        if (to && *to < b.size()) *out = fragment_at(bridge_, *to).Detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRuntimeId(SAFEARRAY** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!node()) return kNotAvailable;
        int ids[2] = {UiaAppendRuntimeId, static_cast<int>(id_)};
        SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 0, 2);
        if (!array) return E_OUTOFMEMORY;
        for (LONG i = 0; i < 2; ++i)
            SafeArrayPutElement(array, &i, &ids[i]);
        *out = array;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_BoundingRectangle(UiaRect* out) override {
        if (!out) return E_POINTER;
        *out = UiaRect{0, 0, 0, 0};
        const A11yNode* n = node();
        if (!n) return kNotAvailable;
        *out = screen_rect(n->bounds, bridge_->source()->scale(), client_origin(bridge_->window()));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetEmbeddedFragmentRoots(SAFEARRAY** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetFocus() override {
        const A11yNode* n = node();
        if (!n) return kNotAvailable;
        if (!n->focusable || n->action.is_none()) return kInvalidOperation;
        if (!n->enabled) return kNotEnabled;
        bridge_->source()->focus(n->action);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_FragmentRoot(IRawElementProviderFragmentRoot** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!node()) return kNotAvailable;
        *out = root_of(bridge_).Detach();
        return S_OK;
    }

    // IInvokeProvider, IToggleProvider
    HRESULT STDMETHODCALLTYPE Invoke() override { return act(); }
    HRESULT STDMETHODCALLTYPE Toggle() override { return act(); }
    HRESULT STDMETHODCALLTYPE get_ToggleState(uia::ToggleState* out) override {
        if (!out) return E_POINTER;
        const A11yNode* n = node();
        if (!n) return kNotAvailable;
        *out = !n->toggled ? uia::ToggleState_Indeterminate
                           : (*n->toggled ? uia::ToggleState_On : uia::ToggleState_Off);
        return S_OK;
    }

    // ISelectionProvider
    HRESULT STDMETHODCALLTYPE GetSelection(SAFEARRAY** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        size_t index = 0;
        if (!node(&index)) return kNotAvailable;
        std::vector<uint32_t> chosen;
        for (size_t i = 0; i < bridge_->size(); ++i) {
            const A11yNode& c = bridge_->at(i);
            if (c.parent == static_cast<int>(index) && c.selected) chosen.push_back(c.id);
        }
        SAFEARRAY* array = SafeArrayCreateVector(VT_UNKNOWN, 0, static_cast<ULONG>(chosen.size()));
        if (!array) return E_OUTOFMEMORY;
        for (LONG i = 0; i < static_cast<LONG>(chosen.size()); ++i) {
            ComPtr<IRawElementProviderSimple> p = make_node_provider(bridge_, chosen[size_t(i)]);
            SafeArrayPutElement(array, &i, p.Get());  // the array takes its own reference
        }
        *out = array;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_CanSelectMultiple(BOOL* out) override {
        if (!out) return E_POINTER;
        *out = FALSE;
        return node() ? S_OK : kNotAvailable;
    }
    HRESULT STDMETHODCALLTYPE get_IsSelectionRequired(BOOL* out) override {
        if (!out) return E_POINTER;
        *out = FALSE;
        return node() ? S_OK : kNotAvailable;
    }

    // ISelectionItemProvider: one choice at a time, made as a click makes it.
    HRESULT STDMETHODCALLTYPE Select() override {
        const A11yNode* n = node();
        if (!n) return kNotAvailable;
        return n->selected ? S_OK : act();
    }
    HRESULT STDMETHODCALLTYPE AddToSelection() override { return Select(); }
    HRESULT STDMETHODCALLTYPE RemoveFromSelection() override {
        const A11yNode* n = node();
        if (!n) return kNotAvailable;
        return n->selected ? kInvalidOperation : S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IsSelected(BOOL* out) override {
        if (!out) return E_POINTER;
        const A11yNode* n = node();
        if (!n) return kNotAvailable;
        *out = n->selected ? TRUE : FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_SelectionContainer(IRawElementProviderSimple** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        const A11yNode* n = node();
        if (!n) return kNotAvailable;
        if (n->parent >= 0 && bridge_->at(size_t(n->parent)).role == A11yRole::List)
            *out = make_node_provider(bridge_, bridge_->at(size_t(n->parent)).id).Detach();
        return S_OK;
    }

    // IExpandCollapseProvider
    HRESULT STDMETHODCALLTYPE Expand() override { return expand(true); }
    HRESULT STDMETHODCALLTYPE Collapse() override { return expand(false); }
    HRESULT STDMETHODCALLTYPE get_ExpandCollapseState(uia::ExpandCollapseState* out) override {
        if (!out) return E_POINTER;
        const A11yNode* n = node();
        if (!n) return kNotAvailable;
        *out = !n->expanded ? uia::ExpandCollapseState_LeafNode
                            : (*n->expanded ? uia::ExpandCollapseState_Expanded
                                            : uia::ExpandCollapseState_Collapsed);
        return S_OK;
    }

    // IRangeValueProvider: read-only, percent.
    HRESULT STDMETHODCALLTYPE SetValue(double) override {
        return node() ? kNotEnabled : kNotAvailable;
    }
    HRESULT STDMETHODCALLTYPE get_Value(double* out) override {
        if (!out) return E_POINTER;
        const A11yNode* n = node();
        if (!n) return kNotAvailable;
        *out = n->value.value_or(0);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IsReadOnly(BOOL* out) override { return fixed(out, TRUE); }
    HRESULT STDMETHODCALLTYPE get_Maximum(double* out) override { return fixed(out, 100.0); }
    HRESULT STDMETHODCALLTYPE get_Minimum(double* out) override { return fixed(out, 0.0); }
    HRESULT STDMETHODCALLTYPE get_LargeChange(double* out) override { return fixed(out, 0.0); }
    HRESULT STDMETHODCALLTYPE get_SmallChange(double* out) override { return fixed(out, 0.0); }

  private:
    ~NodeProvider() = default;

    // The node while it is in the tree and the window lives.
    const A11yNode* node(size_t* index = nullptr) const {
        if (!bridge_->source()) return nullptr;
        auto i = bridge_->index_of(id_);
        if (!i) return nullptr;
        if (index) *index = *i;
        return &bridge_->at(*i);
    }
    bool offscreen(const A11yNode& n) const {
        if (n.bounds.w <= 0 || n.bounds.h <= 0) return true;
        RECT client{};
        GetClientRect(bridge_->window(), &client);
        const double scale = bridge_->source()->scale();
        UiaRect r = screen_rect(n.bounds, scale, POINT{0, 0});
        return r.left + r.width <= client.left || r.left >= client.right ||
               r.top + r.height <= client.top || r.top >= client.bottom;
    }
    HRESULT act() {
        const A11yNode* n = node();
        if (!n) return kNotAvailable;
        if (n->action.is_none()) return kInvalidOperation;
        if (!n->enabled) return kNotEnabled;
        bridge_->source()->invoke(n->action);
        return S_OK;
    }
    HRESULT expand(bool open) {
        const A11yNode* n = node();
        if (!n) return kNotAvailable;
        if (!n->expanded) return kInvalidOperation;
        return *n->expanded == open ? S_OK : act();
    }
    template <typename T>
    HRESULT fixed(T* out, T value) {
        if (!out) return E_POINTER;
        *out = value;
        return node() ? S_OK : kNotAvailable;
    }

    RefCount refs_;
    std::shared_ptr<UiaBridge> bridge_;
    uint32_t id_;
};

}  // namespace

size_t UiaBridge::size() const {
    if (!source_) return 0;
    return source_->tree().nodes.size() + (announcement_ ? 1 : 0);
}

const A11yNode& UiaBridge::at(size_t index) const {
    const auto& nodes = source_->tree().nodes;
    return index < nodes.size() ? nodes[index] : *announcement_;
}

std::optional<size_t> UiaBridge::index_of(uint32_t id) const {
    for (size_t i = 0; i < size(); ++i)
        if (at(i).id == id) return i;
    return std::nullopt;
}

void UiaBridge::set_announcement(std::string text) {
    A11yNode line;
    line.id = kAnnouncementNodeId;
    line.role = A11yRole::Status;
    line.name = std::move(text);
    announcement_ = std::move(line);
}

ComPtr<IRawElementProviderSimple> make_root_provider(std::shared_ptr<UiaBridge> bridge) {
    ComPtr<IRawElementProviderSimple> root;
    if (bridge->root) {
        root = bridge->root;
        return root;
    }
    auto* made = new RootProvider(bridge);
    bridge->root = made;
    root.Attach(static_cast<IRawElementProviderSimple*>(made));
    return root;
}

ComPtr<IRawElementProviderSimple> make_node_provider(std::shared_ptr<UiaBridge> bridge,
                                                     uint32_t id) {
    ComPtr<IRawElementProviderSimple> node;
    node.Attach(static_cast<IRawElementProviderSimple*>(new NodeProvider(std::move(bridge), id)));
    return node;
}

UiaRect screen_rect(const Rect& dips, double scale, POINT origin) {
    const double left = std::round(double(dips.x) * scale);
    const double top = std::round(double(dips.y) * scale);
    const double right = std::round(double(dips.x + dips.w) * scale);
    const double bottom = std::round(double(dips.y + dips.h) * scale);
    return UiaRect{left + origin.x, top + origin.y, right - left, bottom - top};
}

std::vector<UiaChange> tree_changes(const A11yTree& before, const A11yTree& after) {
    std::vector<UiaChange> changes;
    auto ids = [](const A11yTree& t) {
        std::vector<uint32_t> v;
        for (const A11yNode& n : t.nodes)
            v.push_back(n.id);
        return v;
    };
    if (ids(before) != ids(after)) changes.push_back({UiaChange::Structure});
    auto focused = [](const A11yTree& t) -> uint32_t {
        for (const A11yNode& n : t.nodes)
            if (n.focused) return n.id;
        return 0;
    };
    if (uint32_t f = focused(after); f != 0 && f != focused(before))
        changes.push_back({UiaChange::Focus, f});
    for (const A11yNode& now : after.nodes) {
        auto was = std::find_if(before.nodes.begin(), before.nodes.end(),
                                [&](const A11yNode& n) { return n.id == now.id; });
        if (was == before.nodes.end()) continue;
        if (now.toggled && was->toggled && *now.toggled != *was->toggled)
            changes.push_back(
                {UiaChange::Toggle, now.id, double(*was->toggled), double(*now.toggled)});
        if (now.selected != was->selected)
            changes.push_back(
                {UiaChange::Selection, now.id, double(was->selected), double(now.selected)});
        if (now.expanded && was->expanded && *now.expanded != *was->expanded)
            changes.push_back(
                {UiaChange::Expansion, now.id, double(*was->expanded), double(*now.expanded)});
        if (now.value && was->value && *now.value != *was->value)
            changes.push_back({UiaChange::Value, now.id, *was->value, *now.value});
    }
    return changes;
}

UiaWindow::UiaWindow(HWND window, UiaSource& source)
    : bridge_(std::make_shared<UiaBridge>(window, &source)), source_(source) {}

UiaWindow::~UiaWindow() {
    window_destroyed();
}

IRawElementProviderSimple* UiaWindow::root() {
    if (!root_) root_ = make_root_provider(bridge_);
    return root_.Get();
}

std::optional<LRESULT> UiaWindow::get_object(WPARAM wparam, LPARAM lparam) {
    const UiaCore& core = uia_core();
    if (static_cast<LONG>(lparam) != static_cast<LONG>(UiaRootObjectId) ||
        !core.return_raw_element_provider || !bridge_->source())
        return std::nullopt;
    return core.return_raw_element_provider(bridge_->window(), wparam, lparam, root());
}

void UiaWindow::frame_painted() {
    if (!bridge_->source() || !uia_core().listening()) {
        previous_.reset();
        return;
    }
    const A11yTree& now = source_.tree();
    if (previous_)
        for (const UiaChange& change : tree_changes(*previous_, now))
            raise(change);
    previous_ = now;
}

void UiaWindow::raise(const UiaChange& change) {
    const UiaCore& core = uia_core();
    if (change.kind == UiaChange::Structure) {
        if (core.raise_structure_changed)
            core.raise_structure_changed(root(), uia::StructureChangeType_ChildrenInvalidated,
                                         nullptr, 0);
        return;
    }
    ComPtr<IRawElementProviderSimple> node = make_node_provider(bridge_, change.id);
    if (change.kind == UiaChange::Focus) {
        if (core.raise_automation_event)
            core.raise_automation_event(node.Get(), uia::kFocusChangedEvent);
        return;
    }
    if (!core.raise_property_changed) return;
    VARIANT before, after;
    VariantInit(&before);
    VariantInit(&after);
    PROPERTYID property = 0;
    switch (change.kind) {
        case UiaChange::Toggle:
            property = UIA_ToggleToggleStatePropertyId;
            set_int(&before, change.before != 0 ? uia::ToggleState_On : uia::ToggleState_Off);
            set_int(&after, change.after != 0 ? uia::ToggleState_On : uia::ToggleState_Off);
            break;
        case UiaChange::Selection:
            property = UIA_SelectionItemIsSelectedPropertyId;
            set_bool(&before, change.before != 0);
            set_bool(&after, change.after != 0);
            if (change.after != 0 && core.raise_automation_event)
                core.raise_automation_event(node.Get(), kElementSelectedEvent);
            break;
        case UiaChange::Expansion:
            property = UIA_ExpandCollapseExpandCollapseStatePropertyId;
            set_int(&before, change.before != 0 ? uia::ExpandCollapseState_Expanded
                                                : uia::ExpandCollapseState_Collapsed);
            set_int(&after, change.after != 0 ? uia::ExpandCollapseState_Expanded
                                              : uia::ExpandCollapseState_Collapsed);
            break;
        case UiaChange::Value:
            property = UIA_RangeValueValuePropertyId;
            before.vt = after.vt = VT_R8;
            before.dblVal = change.before;
            after.dblVal = change.after;
            break;
        default:
            return;
    }
    core.raise_property_changed(node.Get(), property, before, after);
}

void UiaWindow::announce(std::string_view text) {
    if (!bridge_->source() || text.empty()) return;
    const UiaCore& core = uia_core();
    if (core.raise_notification) {
        if (!core.listening()) return;
        std::wstring display = widen(text);
        BSTR shown = SysAllocStringLen(display.data(), static_cast<UINT>(display.size()));
        BSTR activity = SysAllocString(L"Ortivex.Stickwright.Announcement");
        core.raise_notification(root(), uia::NotificationKind_Other,
                                uia::NotificationProcessing_ImportantMostRecent, shown, activity);
        SysFreeString(shown);
        SysFreeString(activity);
        return;
    }
    // Without notification events: the announcement line holds the text, and
    // its live region says that it changed.
    const bool fresh = !bridge_->index_of(kAnnouncementNodeId);
    bridge_->set_announcement(std::string(text));
    if (!core.listening()) return;
    if (fresh && core.raise_structure_changed)
        core.raise_structure_changed(root(), uia::StructureChangeType_ChildrenInvalidated, nullptr,
                                     0);
    if (core.raise_automation_event)
        core.raise_automation_event(make_node_provider(bridge_, kAnnouncementNodeId).Get(),
                                    uia::kLiveRegionChangedEvent);
}

void UiaWindow::window_destroyed() {
    HWND window = bridge_->window();
    if (!bridge_->source()) return;
    bridge_->clear();
    previous_.reset();
    const UiaCore& core = uia_core();
    // The system lets go of the root it holds for the window; clients still
    // holding providers get "not available" from them.
    if (core.return_raw_element_provider && window)
        core.return_raw_element_provider(window, 0, 0, nullptr);
    if (root_ && core.disconnect_provider) core.disconnect_provider(root_.Get());
    root_.Reset();
}

}  // namespace sw::win
