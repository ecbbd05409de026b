// The view's private parts: the frame being drawn with its widgets, and the
// pieces of the window (chrome, screens, overlays) that build_frame puts
// together. Only src/ui/view*.cpp include it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "i18n/strings.h"
#include "ui/canvas.h"
#include "ui/view.h"
#include "ui/window_state.h"

namespace sw::view {

inline constexpr float kLeft = 32;
inline constexpr float kWidth = 496;
inline constexpr float kRight = kLeft + kWidth;
inline constexpr float kCardRadius = 10;
inline constexpr float kButtonRadius = 6;
// Every screen's main button, at the bottom of the content.
inline constexpr Rect kMainButton{kLeft, 616, kWidth, 48};

inline constexpr TextStyle kTitle{24, 3, FontFamily::Display};
inline constexpr TextStyle kHeading{18, 3, FontFamily::Display};
inline constexpr TextStyle kBody{13.5f, 1, FontFamily::Text};
inline constexpr TextStyle kBodyStrong{14, 3, FontFamily::Text};
inline constexpr TextStyle kSmall{12.5f, 1, FontFamily::Text};
inline constexpr TextStyle kCaption{12, 3, FontFamily::Text};
inline constexpr TextStyle kButtonLabel{13.5f, 2, FontFamily::Text};
inline constexpr TextStyle kMainLabel{15, 3, FontFamily::Text};
inline constexpr TextStyle kValue{15, 3, FontFamily::Text};
inline constexpr TextStyle kMono{12, 1, FontFamily::Mono};

enum class ButtonKind { Primary, Secondary, Danger, Link };

inline std::string str(std::string_view s) {
    return std::string(s);
}

// Everything one frame needs while it is drawn: the core (text fitted to its
// box, regions recorded where they can be pressed) in frame.cpp, the widgets
// drawn from it in widgets.cpp.
struct Frame {
    WindowState& s;
    Canvas& c;
    double now;
    const StringTable& t;
    float scroll = 0;  // applied to the screen's content
    bool regions_on = true;
    // Where a region can be pressed: a region is cut to the part of it in sight.
    Rect visible{0, 0, kClientWidth, kClientHeight};
    // Where this part of the frame records what a screen reader is told;
    // none under an open overlay.
    A11yTree* tree = nullptr;
    std::vector<int> groups{};  // the open groups' nodes, innermost last

    std::string_view tx(TextId id) const { return text(t, id); }

    // The text cut with "…" until it fits `max_lines` lines of `width`.
    std::string fit(std::string_view s_in, const TextStyle& style, float width, int max_lines = 1);
    // The height of a wrapped text once fitted, as paragraph draws it.
    float text_height(std::string_view s_in, const TextStyle& style, float width, int lines);
    // Wrapped text drawn from the top of `y`; returns its height.
    float paragraph(std::string_view s_in, float x, float y, float width, const TextStyle& style,
                    Paint paint, Align align = Align::Start, int max_lines = 6);
    // One line of text in a box, cut to fit.
    void label(std::string_view s_in, const Rect& box, const TextStyle& style, Paint paint,
               Align h = Align::Start, Align v = Align::Center);

    Rect moved(const Rect& r) const { return Rect{r.x, r.y - scroll, r.w, r.h}; }
    // The region of an element of the (scrolled) content.
    void region(ElementId id, const Rect& r) { record(id, moved(r)); }
    // A region where it is drawn. Only the part in sight can be pressed; an
    // element wholly out of sight keeps an empty region, so that the keys
    // still reach it and scroll it into sight.
    void record(ElementId id, const Rect& m);

    // --- The accessibility tree ---
    // A node over `r` of the (scrolled) content, cut to the part in sight,
    // a child of the innermost open group; returns its index (-1: none kept).
    int node(A11yNode n, const Rect& r);
    // A node whose following nodes are its children until end_group.
    void group(A11yNode n, const Rect& r) { groups.push_back(node(std::move(n), r)); }
    void end_group() { groups.pop_back(); }
    // A node without an action: a text, group, list or progress bar.
    A11yNode plain_node(A11yText role, A11yRole kind, std::string_view name,
                        uint32_t index = 0) const;
    // A text, group or other node without an action; nothing for an empty name.
    int text_node(A11yText role, std::string_view name, const Rect& r,
                  A11yRole kind = A11yRole::Text, std::string_view help = {}, uint32_t index = 0);
    // A progress bar; `percent` none while it cannot say how far.
    void progress_node(A11yText role, std::string_view name, const Rect& r,
                       std::optional<double> percent);
    // A node of an interactive element, with its guard, focus, action and,
    // for the verify switch and "Show details", its state.
    A11yNode element_node(ElementId id, A11yRole kind, std::string_view name) const;
    // "Written: 1 GB", "Speed: 30 MB/s": a label and its value as one name.
    std::string label_value(std::string_view label_text, std::string_view value) const;
    // "SanDisk Ultra, 32 GB · USB 3.0": texts read as one name.
    std::string joined(const std::vector<std::string>& parts) const;

    float hover(ElementId id) const { return hover_value(s, id, now); }
    bool focused(ElementId id) const {
        return s.input.focus_visible && !s.input.focus.is_none() && s.input.focus == id &&
               s.input.focus.param == id.param;
    }

    // --- Widgets ---
    void card(const Rect& r);
    void focus_ring(const Rect& r, float radius);
    // A button with its label; records its region.
    void button(ElementId id, std::string_view text_in, const Rect& r, ButtonKind kind,
                const TextStyle& style = kButtonLabel);
    // A button as wide as its label plus 56 (label at most 300 wide).
    float button_width(std::string_view label_text);
    // A pill of caption text; returns its left edge.
    float badge(std::string_view text_in, float right, float y, Slot fg, Slot bg);
    void status_circle(float cx, float cy, float r, Slot fill, Slot tint, std::string_view glyph);
    void bar(const Rect& r, float fraction, Slot slot = Slot::Accent);
    void indeterminate_bar(const Rect& r);
};

// A column laid out once, top to bottom: each block brings its height and
// how to draw itself at a given top, so that a dialog knows its height
// before anything of it is drawn.
class Column {
  public:
    template <typename Draw>
    void add(float height, Draw draw) {
        blocks_.push_back({height, std::function<void(float)>(std::move(draw))});
    }
    void gap(float height) { blocks_.push_back({height, {}}); }
    float height() const;
    // Draws every block from `top` down; returns where the column ends.
    float draw(float top) const;

  private:
    std::vector<std::pair<float, std::function<void(float)>>> blocks_;
};

// The window's chrome: the header, the footer with the update notice.
void header(Frame& f);
void footer(Frame& f);
// A thin bar at the right of a scrolled area: its thumb tells how much of
// the content is in sight and where.
void scroll_indicator(Frame& f, const Rect& view, float limit);

void setup_screen(Frame& f);
void progress_screen(Frame& f);
void complete_screen(Frame& f);
void cancelled_screen(Frame& f);
void failed_screen(Frame& f);

// The overlay over everything else, if one is open.
void overlay(Frame& f);

}  // namespace sw::view
