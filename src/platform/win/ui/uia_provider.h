// The window's accessibility tree as UI Automation providers: a root
// provider for the window's client area and one fragment per node, read from
// the last frame's tree whenever a client asks. Providers hold only a shared
// bridge, which the window clears when it goes: from then on, and for a node
// no longer in the tree, every call answers UIA_E_ELEMENTNOTAVAILABLE.
#pragma once

#include <wrl/client.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win/ui/uia_patterns.h"
#include "ui/accessibility.h"

namespace sw::win {

// What the providers read and act on.
class UiaSource {
  public:
    virtual ~UiaSource() = default;
    virtual const A11yTree& tree() const = 0;
    // Physical pixels per device-independent pixel.
    virtual double scale() const = 0;
    // As a click on the element would; done after the call returns.
    virtual void invoke(ElementId element) = 0;
    virtual void focus(ElementId element) = 0;
};

// The node id of the line that holds the last announcement where the system
// has no notification event.
inline constexpr uint32_t kAnnouncementNodeId = a11y_text_id(0x7FFFFFFF);

class UiaBridge {
  public:
    UiaBridge(HWND window, UiaSource* source) : window_(window), source_(source) {}

    // Null once the window is gone.
    UiaSource* source() const { return source_; }
    HWND window() const { return window_; }
    void clear() {
        source_ = nullptr;
        window_ = nullptr;
    }

    // The nodes as clients see them: the tree's, then the announcement line
    // when there is one.
    size_t size() const;
    const A11yNode& at(size_t index) const;
    std::optional<size_t> index_of(uint32_t id) const;
    void set_announcement(std::string text);

    // The root provider while one exists (it clears this when it goes).
    IRawElementProviderSimple* root = nullptr;

  private:
    HWND window_;
    UiaSource* source_;
    std::optional<A11yNode> announcement_;
};

// The window's client area (the fragment root) and one of its nodes.
Microsoft::WRL::ComPtr<IRawElementProviderSimple> make_root_provider(
    std::shared_ptr<UiaBridge> bridge);
Microsoft::WRL::ComPtr<IRawElementProviderSimple> make_node_provider(
    std::shared_ptr<UiaBridge> bridge, uint32_t id);

// A node's rectangle in screen pixels: its bounds scaled, from the client
// area's origin.
UiaRect screen_rect(const Rect& dips, double scale, POINT client_origin);

// What changed between two frames' trees that clients are told of.
struct UiaChange {
    enum Kind { Structure, Focus, Toggle, Selection, Expansion, Value };
    Kind kind;
    uint32_t id = 0;  // the node (not for Structure)
    double before = 0, after = 0;
};
std::vector<UiaChange> tree_changes(const A11yTree& before, const A11yTree& after);

// One window's UI Automation: the root it hands out, the events after each
// frame and the announcements.
class UiaWindow {
  public:
    UiaWindow(HWND window, UiaSource& source);
    ~UiaWindow();
    UiaWindow(const UiaWindow&) = delete;
    UiaWindow& operator=(const UiaWindow&) = delete;

    // WM_GETOBJECT: the root provider for UiaRootObjectId; nothing for other
    // objects, when UI Automation is missing or once the window is gone.
    std::optional<LRESULT> get_object(WPARAM wparam, LPARAM lparam);
    // After a frame: the events its changes call for, when anyone listens.
    void frame_painted();
    // A notification event, or where the system has none, the announcement
    // line's live region.
    void announce(std::string_view text);
    // WM_DESTROY: providers answer "not available" from now on.
    void window_destroyed();
    // The provider WM_GETOBJECT hands out.
    IRawElementProviderSimple* root();

  private:
    void raise(const UiaChange& change);

    std::shared_ptr<UiaBridge> bridge_;
    UiaSource& source_;
    Microsoft::WRL::ComPtr<IRawElementProviderSimple> root_;
    std::optional<A11yTree> previous_;  // the last frame's tree while anyone listens
};

}  // namespace sw::win
