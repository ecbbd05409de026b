#include "ui/view.h"

#include <algorithm>
#include <cmath>

#include "core/version.h"
#include "core/text.h"
#include "i18n/format.h"
#include "i18n/messages.h"
#include "i18n/strings.h"
#include "ui/recording_canvas.h"

namespace sw {

namespace {

constexpr float kLeft = 32;
constexpr float kWidth = 496;
constexpr float kRight = kLeft + kWidth;
constexpr float kCardRadius = 10;
constexpr float kButtonRadius = 6;

const TextStyle kTitle{24, 3, FontFamily::Display};
const TextStyle kHeading{18, 3, FontFamily::Display};
const TextStyle kBody{13.5f, 1, FontFamily::Text};
const TextStyle kBodyStrong{14, 3, FontFamily::Text};
const TextStyle kSmall{12.5f, 1, FontFamily::Text};
const TextStyle kCaption{12, 3, FontFamily::Text};
const TextStyle kButtonLabel{13.5f, 2, FontFamily::Text};
const TextStyle kValue{15, 3, FontFamily::Text};
const TextStyle kMono{12, 1, FontFamily::Mono};

enum class ButtonKind { Primary, Secondary, Danger, Link };

std::string str(std::string_view s) {
    return std::string(s);
}

// Everything one frame needs while it is drawn.
struct Frame {
    WindowState& s;
    Canvas& c;
    double now;
    const StringTable& t;
    float scroll = 0;  // applied to the screen's content
    bool regions_on = true;
    // Where a region can be pressed: a region is cut to the part of it in sight.
    Rect visible{0, 0, kClientWidth, kClientHeight};

    std::string_view tx(TextId id) const { return text(t, id); }

    // The text cut with "…" until it fits `max_lines` lines of `width`.
    std::string fit(std::string_view s_in, const TextStyle& style, float width, int max_lines = 1) {
        std::string out(s_in);
        const float line = style.size * 1.34f;
        auto fits = [&](const std::string& v) {
            TextExtent e = c.measure(v, style, width);
            return e.w <= width && e.h <= line * static_cast<float>(max_lines) + 0.5f;
        };
        if (fits(out)) return out;
        // Cut whole UTF-8 characters from the end.
        while (!out.empty()) {
            size_t cut = out.size() - 1;
            while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80)
                --cut;
            out.resize(cut);
            std::string candidate = out + "…";
            if (fits(candidate)) return candidate;
        }
        return out;
    }

    // Wrapped text drawn from the top of `y`; returns its height.
    float paragraph(std::string_view s_in, float x, float y, float width, const TextStyle& style,
                    Paint paint, Align align = Align::Start, int max_lines = 6) {
        std::string v = fit(s_in, style, width, max_lines);
        TextExtent e = c.measure(v, style, width);
        float h = std::ceil(e.h);
        c.text(v, Rect{x, y - scroll, width, h}, style, paint, align, Align::Start);
        return h;
    }

    // One line of text in a box, cut to fit.
    void label(std::string_view s_in, const Rect& box, const TextStyle& style, Paint paint,
               Align h = Align::Start, Align v = Align::Center) {
        std::string fitted = fit(s_in, style, box.w, 1);
        c.text(fitted, Rect{box.x, box.y - scroll, box.w, box.h}, style, paint, h, v);
    }

    Rect moved(const Rect& r) const { return Rect{r.x, r.y - scroll, r.w, r.h}; }

    // The region of an element of the (scrolled) content.
    void region(ElementId id, const Rect& r) { record(id, moved(r)); }

    // A region where it is drawn. Only the part in sight can be pressed; an
    // element wholly out of sight keeps an empty region, so that the keys
    // still reach it and scroll it into sight.
    void record(ElementId id, const Rect& m) {
        if (!regions_on) return;
        float left = std::max(m.x, visible.x), top = std::max(m.y, visible.y);
        float right = std::min(m.right(), visible.right());
        float bottom = std::min(m.bottom(), visible.bottom());
        Rect seen = right > left && bottom > top ? Rect{left, top, right - left, bottom - top}
                                                 : Rect{m.x, m.y, 0, 0};
        s.regions.push_back({id, seen, action_enabled(s, id), m});
    }

    float hover(ElementId id) const { return hover_value(s, id, now); }
    bool focused(ElementId id) const {
        return s.focus_visible && !s.focus.is_none() && s.focus == id && s.focus.param == id.param;
    }

    void card(const Rect& r) {
        Rect m = moved(r);
        c.fill_rounded(Rect{m.x, m.y + 1, m.w, m.h}, kCardRadius, {Slot::Shadow, 1});
        c.fill_rounded(m, kCardRadius, {Slot::Surface, 1});
        c.stroke_rounded(m, kCardRadius, {Slot::Line, 1}, 1);
    }

    void focus_ring(const Rect& r, float radius) {
        Rect m = moved(r);
        c.stroke_rounded(Rect{m.x - 3, m.y - 3, m.w + 6, m.h + 6}, radius + 3, {Slot::Focus, 1}, 2);
    }

    // A button with its label; records its region.
    void button(ElementId id, std::string_view text_in, const Rect& r, ButtonKind kind,
                const TextStyle& style = kButtonLabel) {
        bool enabled = action_enabled(s, id);
        float dim = enabled ? 1.0f : s.palette.opacity;
        float hv = enabled ? hover(id) : 0;
        bool pressed = enabled && s.pressed == id && s.pressed.param == id.param;
        Rect m = moved(r);
        std::string fitted = fit(text_in, style, std::max(0.0f, r.w - 16));
        if (!enabled && s.palette.high_contrast) {
            // High contrast dims nothing: a disabled button is drawn as the
            // system draws one, an outline and label in the grey text colour.
            c.stroke_rounded(m, kButtonRadius, {Slot::Text3, 1}, 1);
            c.text(fitted, Rect{m.x + 8, m.y, m.w - 16, m.h}, style, {Slot::Text3, 1},
                   Align::Center, Align::Center);
            region(id, r);
            return;
        }
        Slot text_slot = Slot::Text;
        switch (kind) {
            case ButtonKind::Primary:
                c.fill_rounded(m, kButtonRadius, {pressed ? Slot::Accent3 : Slot::Accent, dim});
                if (hv > 0) c.fill_rounded(m, kButtonRadius, {Slot::Accent2, hv * dim});
                text_slot = Slot::OnAccent;
                break;
            case ButtonKind::Danger:
                c.fill_rounded(m, kButtonRadius, {pressed ? Slot::Red : Slot::Red, dim});
                if (hv > 0) c.fill_rounded(m, kButtonRadius, {Slot::Red2, hv * dim});
                text_slot = Slot::OnAccent;
                break;
            case ButtonKind::Secondary:
                c.fill_rounded(m, kButtonRadius, {pressed ? Slot::Surface3 : Slot::Surface, dim});
                if (hv > 0) c.fill_rounded(m, kButtonRadius, {Slot::Surface2, hv * dim});
                c.stroke_rounded(m, kButtonRadius, {Slot::StrongLine, dim}, 1);
                break;
            case ButtonKind::Link:
                if (hv > 0) c.fill_rounded(m, kButtonRadius, {Slot::AccentTint, hv * dim});
                text_slot = Slot::Link;
                break;
        }
        c.text(fitted, Rect{m.x + 8, m.y, m.w - 16, m.h}, style, {text_slot, dim}, Align::Center,
               Align::Center);
        if (focused(id)) focus_ring(r, kButtonRadius);
        region(id, r);
    }

    // A button as wide as its label plus 56 (label at most 300 wide).
    float button_width(std::string_view label_text) {
        float w = std::min(c.measure(label_text, kButtonLabel, 10000).w, 300.0f);
        return std::ceil(w) + 56;
    }

    void status_circle(float cx, float cy, float r, Slot fill, Slot tint, std::string_view glyph) {
        c.fill_ellipse(cx, cy - scroll, r + 10, r + 10, {tint, 1});
        c.fill_ellipse(cx, cy - scroll, r, r, {fill, 1});
        c.text(glyph, Rect{cx - r, cy - r - scroll, 2 * r, 2 * r},
               TextStyle{r, 4, FontFamily::Text}, {Slot::OnAccent, 1}, Align::Center,
               Align::Center);
    }

    void bar(const Rect& r, float fraction, Slot slot = Slot::Accent) {
        Rect m = moved(r);
        c.fill_rounded(m, m.h / 2, {Slot::Surface3, 1});
        fraction = std::clamp(fraction, 0.0f, 1.0f);
        if (fraction > 0)
            c.fill_rounded(Rect{m.x, m.y, std::max(m.h, m.w * fraction), m.h}, m.h / 2, {slot, 1});
    }

    void indeterminate_bar(const Rect& r) {
        Rect m = moved(r);
        c.fill_rounded(m, m.h / 2, {Slot::Surface3, 1});
        double phase = std::fmod(now / 1.4, 1.0);
        float seg = m.w * 0.3f;
        float x = m.x - seg + static_cast<float>(phase) * (m.w + seg);
        float left = std::max(x, m.x);
        float right = std::min(x + seg, m.right());
        if (right > left)
            c.fill_rounded(Rect{left, m.y, right - left, m.h}, m.h / 2, {Slot::Accent, 1});
    }
};

// Draws on another canvas and keeps what it drew, so that a screen can be
// drawn again as it was.
class KeepingCanvas final : public Canvas {
  public:
    explicit KeepingCanvas(Canvas& inner) : inner_(inner) {}

    void fill_rect(const Rect& r, Paint paint) override {
        inner_.fill_rect(r, paint);
        kept_.fill_rect(r, paint);
    }
    void fill_rounded(const Rect& r, float radius, Paint paint) override {
        inner_.fill_rounded(r, radius, paint);
        kept_.fill_rounded(r, radius, paint);
    }
    void stroke_rounded(const Rect& r, float radius, Paint paint, float width) override {
        inner_.stroke_rounded(r, radius, paint, width);
        kept_.stroke_rounded(r, radius, paint, width);
    }
    void line(float x0, float y0, float x1, float y1, Paint paint, float width) override {
        inner_.line(x0, y0, x1, y1, paint, width);
        kept_.line(x0, y0, x1, y1, paint, width);
    }
    void fill_ellipse(float cx, float cy, float rx, float ry, Paint paint) override {
        inner_.fill_ellipse(cx, cy, rx, ry, paint);
        kept_.fill_ellipse(cx, cy, rx, ry, paint);
    }
    void stroke_ellipse(float cx, float cy, float rx, float ry, Paint paint, float width) override {
        inner_.stroke_ellipse(cx, cy, rx, ry, paint, width);
        kept_.stroke_ellipse(cx, cy, rx, ry, paint, width);
    }
    void text(std::string_view utf8, const Rect& box, const TextStyle& style, Paint paint,
              Align horizontal, Align vertical) override {
        inner_.text(utf8, box, style, paint, horizontal, vertical);
        kept_.text(utf8, box, style, paint, horizontal, vertical);
    }
    TextExtent measure(std::string_view utf8, const TextStyle& style, float max_width) override {
        return inner_.measure(utf8, style, max_width);
    }
    void icon(const Rect& r, float opacity) override {
        inner_.icon(r, opacity);
        kept_.icon(r, opacity);
    }
    void push_clip(const Rect& r) override {
        inner_.push_clip(r);
        kept_.push_clip(r);
    }
    void pop_clip() override {
        inner_.pop_clip();
        kept_.pop_clip();
    }

    std::vector<DrawOp> take() { return kept_.take(); }

  private:
    Canvas& inner_;
    RecordingCanvas kept_;
};

// --- Header and footer -------------------------------------------------------

void header(Frame& f) {
    f.c.icon(Rect{kLeft, 20, 28, 28}, 1);
    TextStyle brand{16, 3, FontFamily::Display};
    float w = std::ceil(f.c.measure("Ortivex", brand, 1000).w);
    f.c.text("Ortivex", Rect{kLeft + 38, 20, w + 2, 28}, brand, {Slot::Text, 1}, Align::Start,
             Align::Center);
    TextStyle brand2{16, 1, FontFamily::Display};
    float w2 = std::ceil(f.c.measure("Stickwright", brand2, 1000).w);
    f.c.text("Stickwright", Rect{kLeft + 38 + w + 6, 20, w2 + 2, 28}, brand2, {Slot::Text2, 1},
             Align::Start, Align::Center);
    // The appearance-and-language button: three dots in a round button.
    ElementId id{UiAction::TogglePanel};
    Rect r{kRight - 36, 18, 36, 32};
    float hv = f.hover(id);
    bool open = f.s.overlay == Overlay::Appearance;
    if (hv > 0 || open) f.c.fill_rounded(r, kButtonRadius, {Slot::Surface3, open ? 1.0f : hv});
    for (int i = -1; i <= 1; ++i)
        f.c.fill_ellipse(r.x + r.w / 2 + static_cast<float>(i) * 6, r.y + r.h / 2, 1.6f, 1.6f,
                         {Slot::Text2, 1});
    if (f.focused(id))
        f.c.stroke_rounded(Rect{r.x - 3, r.y - 3, r.w + 6, r.h + 6}, kButtonRadius + 3,
                           {Slot::Focus, 1}, 2);
    f.record(id, r);
}

// The update notice belongs to the setup screen: it fades with it.
float update_notice_opacity(const Frame& f) {
    const WindowState& s = f.s;
    float fade = s.screen_fade.duration > 0 ? s.screen_fade.value(f.now) : 1.0f;
    if (s.screen == ScreenKind::Setup) return fade < 1 && s.previous_screen != s.screen ? fade : 1;
    return s.previous_screen == ScreenKind::Setup ? 1 - fade : 0;
}

void footer(Frame& f) {
    f.c.fill_rect(Rect{0, kContentBottom, kClientWidth, kClientHeight - kContentBottom},
                  {Slot::Background, 1});
    f.c.line(kLeft, kContentBottom, kRight, kContentBottom, {Slot::Line, 1}, 1);
    float y = kContentBottom + 4;
    const float shown = f.s.update ? update_notice_opacity(f) : 0;
    if (shown > 0) {
        ElementId id{UiAction::OpenUpdate};
        std::string notice = format_text(f.tx(TextId::UpdateAvailable), {f.s.update->version});
        std::string_view link = f.tx(TextId::Download);
        float link_w = std::ceil(f.c.measure(link, kCaption, 1000).w) + 16;
        std::string fitted = f.fit(notice, kSmall, kWidth - link_w - 8);
        float notice_w = std::ceil(f.c.measure(fitted, kSmall, 1000).w) + 1;
        f.c.fill_ellipse(kLeft + 4, y + 10, 3, 3, {Slot::Accent, shown});
        f.c.text(fitted, Rect{kLeft + 14, y, notice_w, 20}, kSmall, {Slot::Text, shown},
                 Align::Start, Align::Center);
        Rect r{kLeft + 14 + notice_w + 6, y, link_w, 20};
        float hv = f.hover(id);
        if (hv > 0) f.c.fill_rounded(r, 4, {Slot::AccentTint, hv * shown});
        f.c.text(link, Rect{r.x + 8, r.y, r.w - 16, r.h}, kCaption, {Slot::Link, shown},
                 Align::Center, Align::Center);
        if (f.focused(id))
            f.c.stroke_rounded(Rect{r.x - 3, r.y - 3, r.w + 6, r.h + 6}, 7, {Slot::Focus, 1}, 2);
        if (f.s.screen == ScreenKind::Setup) f.record(id, r);
    }
    TextStyle small{11, 1, FontFamily::Text};
    std::string version = fmt("v{}", kVersion);
    float vw = std::ceil(f.c.measure(version, small, 1000).w) + 1;
    float ty = f.s.update ? kClientHeight - 20 : kClientHeight - 24;
    std::string line = f.fit(f.tx(TextId::FooterLine), small, kWidth - vw - 12);
    f.c.text(line, Rect{kLeft, ty, kWidth - vw - 12, 16}, small, {Slot::Text3, 1}, Align::Start,
             Align::Center);
    f.c.text(version, Rect{kRight - vw, ty, vw, 16}, small, {Slot::Text3, 1}, Align::End,
             Align::Center);
}

// --- Setup screen ------------------------------------------------------------

std::string channel_label(const Frame& f, const ImageInspection& in) {
    if (in.manifest) {
        const std::string& ch = in.manifest->channel;
        if (ch == "stable") return str(f.tx(TextId::ChannelStable));
        if (ch == "rc") return str(f.tx(TextId::ChannelReleaseCandidate));
        return str(f.tx(TextId::ChannelDevelopment));
    }
    if (in.version_text().find("-rc") != std::string::npos)
        return str(f.tx(TextId::ChannelReleaseCandidate));
    return str(f.tx(TextId::ChannelDevelopment));
}

// The small pill at the right of a card's title row; returns its left edge.
float badge(Frame& f, std::string_view text_in, float right, float y, Slot fg, Slot bg) {
    float w = std::min(std::ceil(f.c.measure(text_in, kCaption, 1000).w) + 20, 240.0f);
    Rect r{right - w, y, w, 22};
    f.c.fill_rounded(f.moved(r), 11, {bg, 1});
    f.label(text_in, Rect{r.x + 10, r.y, r.w - 20, r.h}, kCaption, {fg, 1}, Align::Center);
    return r.x;
}

constexpr float kImageCardTop = 158;

// The warning under an accepted unsigned image, with its height; none for
// any other image.
std::pair<std::string, float> unsigned_warning(Frame& f) {
    const WindowState& s = f.s;
    const bool accepted = s.image && s.image->accepted && s.image->inspection;
    if (!accepted || s.image->inspection->is_signed()) return {};
    const float width = kWidth - 60;
    std::string warning = str(f.tx(TextId::UnverifiedWarning));
    return {warning, std::ceil(f.c.measure(f.fit(warning, kSmall, width, 2), kSmall, width).h)};
}

float image_card_height(Frame& f) {
    float warning_h = unsigned_warning(f).second;
    return 126 + (warning_h > 0 ? warning_h + 20 : 0);  // room below the buttons for a warning
}

float image_card(Frame& f) {
    const WindowState& s = f.s;
    const float top = kImageCardTop;
    const float inner = kLeft + 20;
    const float inner_w = kWidth - 40;
    const bool accepted = s.image && s.image->accepted && s.image->inspection;
    auto [warning, warning_h] = unsigned_warning(f);
    const float height = image_card_height(f);
    f.card(Rect{kLeft, top, kWidth, height});
    f.label(f.tx(TextId::ImageCardTitle), Rect{inner, top + 14, 250, 18}, kCaption,
            {Slot::Text2, 1});

    const float line1 = top + 38;
    const float line2 = top + 62;
    const Rect button_row{inner, 238, inner_w, 34};
    auto pick_buttons = [&] {
        std::string_view dl = f.tx(TextId::DownloadLatest);
        std::string_view sel = f.tx(TextId::SelectIso);
        float dw = f.button_width(dl);
        float sw_ = f.button_width(sel);
        float dx = 508 - dw;
        float sx = dx - 8 - sw_;
        f.button({UiAction::SelectImage}, sel, Rect{sx, 238, sw_, 34}, ButtonKind::Secondary);
        f.button({UiAction::DownloadLatest}, dl, Rect{dx, 238, dw, 34}, ButtonKind::Primary);
    };

    if (s.phase == AppPhase::Downloading) {
        std::string version = s.release ? s.release->manifest.version : std::string();
        f.label(format_text(f.tx(TextId::DownloadingVersion), {version}),
                Rect{inner, line1, inner_w, 22}, kValue, {Slot::Text, 1});
        const DownloadProgress& p = *s.download_progress;
        uint64_t done = p.done.load(), total = p.total.load();
        uint32_t retry = p.retry.load();
        std::string detail;
        if (retry != 0) {
            detail = format_text(f.tx(TextId::RetryingConnection),
                                 {std::to_string(retry), std::to_string(kDownloadRetries)});
        } else if (total == 0 && done == 0) {
            detail = str(f.tx(TextId::Connecting));
        } else {
            detail =
                format_text(f.tx(TextId::AmountOfTotal), {format_size(done), format_size(total)});
            if (s.download_rate.has_value)
                detail += " · " + format_speed(f.t, s.download_rate.rate);
        }
        f.label(detail, Rect{inner, line2, inner_w, 18}, kSmall, {Slot::Text2, 1});
        std::string_view cancel = f.tx(TextId::Cancel);
        float cw = f.button_width(cancel);
        if (total > 0) {
            f.bar(Rect{inner, 252, 508 - cw - 16 - inner, 6},
                  static_cast<float>(static_cast<double>(std::min(done, total)) /
                                     static_cast<double>(total)));
        } else {
            f.indeterminate_bar(Rect{inner, 252, 508 - cw - 16 - inner, 6});
        }
        f.button({UiAction::StopDownload}, cancel, Rect{508 - cw, 238, cw, 34},
                 ButtonKind::Secondary);
    } else if (s.phase == AppPhase::ImageSelected || s.phase == AppPhase::ValidatingImage) {
        f.label(f.tx(TextId::CheckingImage), Rect{inner, line1, inner_w, 22}, kValue,
                {Slot::Text, 1});
        const ValidationProgress& p = *s.validation_progress;
        uint64_t done = p.done.load(), total = p.total.load();
        // One line under the title: the content check's progress once it
        // runs, the file until then.
        if (total > 0) {
            uint64_t percent = std::min<uint64_t>(done, total) * 100 / total;
            f.label(format_text(f.tx(TextId::VerifyingImagePercent), {std::to_string(percent)}),
                    Rect{inner, line2, inner_w, 18}, kSmall, {Slot::Text2, 1});
        } else if (s.image) {
            f.label(s.image->path, Rect{inner, line2, inner_w, 18}, kSmall, {Slot::Text3, 1});
        }
        pick_buttons();
    } else if (accepted) {
        const ImageInspection& in = *s.image->inspection;
        bool is_signed = in.is_signed();
        float badge_left =
            badge(f, f.tx(is_signed ? TextId::OfficialImage : TextId::UnverifiedImage), kRight - 20,
                  top + 12, is_signed ? Slot::Green : Slot::Amber,
                  is_signed ? Slot::GreenTint : Slot::AmberTint);
        (void)badge_left;
        f.label(format_text(f.tx(TextId::ImageName), {in.version_text()}),
                Rect{inner, line1, inner_w, 22}, kValue, {Slot::Text, 1});
        std::string detail = format_text(f.tx(TextId::ImageDetails),
                                         {channel_label(f, in), format_size(in.image_size)});
        if (in.build)
            detail = format_text("{} · {}",
                                 {detail, format_text(f.tx(TextId::BuildNumber), {*in.build})});
        f.label(detail, Rect{inner, line2, inner_w, 18}, kSmall, {Slot::Text2, 1});
        pick_buttons();
        if (!warning.empty()) {
            Rect w{inner, 238 + 34 + 12, inner_w, warning_h + 8};
            f.c.fill_rounded(f.moved(w), 6, {Slot::AmberTint, 1});
            f.paragraph(warning, inner + 10, w.y + 4, inner_w - 20, kSmall, {Slot::Amber, 1},
                        Align::Start, 2);
        }
    } else {
        std::string_view head = f.tx(TextId::NoImageSelected);
        std::string hint = str(f.tx(TextId::NoImageHint));
        Slot hint_slot = Slot::Text2;
        if (s.download_error) {
            FailureTextIds ids = download_failure_text_ids(s.download_error->kind);
            head = f.tx(ids.title);
            hint = str(f.tx(ids.advice));
            hint_slot = Slot::Red;
        } else if (s.refused_image) {
            hint = verdict_message(f.t, *s.refused_image).text;
            hint_slot = Slot::Red;
        }
        f.label(head, Rect{inner, line1, inner_w, 22}, kValue, {Slot::Text, 1});
        f.label(hint, Rect{inner, line2, inner_w, 18}, kSmall, {hint_slot, 1});
        pick_buttons();
    }
    (void)button_row;
    return top + height;
}

constexpr float kDriveRowHeight = 56;

float drive_card_height(const WindowState& s) {
    size_t rows = listed_drives(s).size();
    float body = rows == 0 ? 72 : static_cast<float>(rows) * (kDriveRowHeight + 4) + 4;
    return 50 + body + 8;
}

float drive_card(Frame& f, float top) {
    const WindowState& s = f.s;
    const float inner = kLeft + 20;
    const float inner_w = kWidth - 40;
    auto rows = listed_drives(s);
    const DeviceInfo* chosen = selected_drive(s);
    const float row_h = kDriveRowHeight;
    float height = drive_card_height(s);
    f.card(Rect{kLeft, top, kWidth, height});

    // Title row: the card's name, its status word and "Check drive".
    std::string_view check = f.tx(TextId::CheckDrive);
    float cw = f.button_width(check) - 16;
    Rect check_r{kRight - 14 - cw, top + 10, cw, 30};
    std::string_view title = f.tx(TextId::DriveCardTitle);
    float tw = std::min(std::ceil(f.c.measure(title, kCaption, 1000).w) + 1, 160.0f);
    f.label(title, Rect{inner, top + 16, tw, 18}, kCaption, {Slot::Text2, 1});
    if (!rows.empty()) {
        bool ready = chosen != nullptr;
        std::string_view word = f.tx(ready ? TextId::DriveReady : TextId::ChooseDrive);
        float room = check_r.x - 12 - (inner + tw + 10);
        float ww = std::min(std::ceil(f.c.measure(word, kCaption, 1000).w) + 18, room);
        Rect pill{inner + tw + 10, top + 14, ww, 22};
        f.c.fill_rounded(f.moved(pill), 11, {ready ? Slot::GreenTint : Slot::Surface3, 1});
        f.label(word, Rect{pill.x + 9, pill.y, pill.w - 18, pill.h}, kCaption,
                {ready ? Slot::Green : Slot::Text2, 1}, Align::Center);
    }
    f.button({UiAction::CheckDrive}, check, check_r, ButtonKind::Secondary, kSmall);

    float y = top + 50;
    if (rows.empty()) {
        f.c.fill_rounded(f.moved(Rect{inner, y, inner_w, 64}), 8, {Slot::Surface2, 1});
        f.label(f.tx(TextId::InsertDrive), Rect{inner + 16, y + 12, inner_w - 32, 20}, kBodyStrong,
                {Slot::Text, 1});
        f.label(f.tx(TextId::InsertDriveHint), Rect{inner + 16, y + 34, inner_w - 32, 18}, kSmall,
                {Slot::Text2, 1});
        return top + height;
    }
    for (auto& [drive, refusals] : rows) {
        Rect row{kLeft + 8, y, kWidth - 16, row_h};
        const bool offered = refusals.empty();
        const bool is_chosen = chosen == drive;
        ElementId id{UiAction::SelectDrive, drive->number};
        Rect m = f.moved(row);
        if (is_chosen) {
            f.c.fill_rounded(m, 8, {Slot::AccentTint, 1});
            f.c.stroke_rounded(m, 8, {Slot::Accent, 1}, 1.5f);
        } else if (offered) {
            float hv = f.hover(id);
            if (hv > 0) f.c.fill_rounded(m, 8, {Slot::Surface2, hv});
        }
        // A radio mark for the drives that may be chosen, a lock for the others.
        float cx = row.x + 22, cy = row.y + row_h / 2;
        if (offered) {
            f.c.stroke_ellipse(cx, cy - f.scroll, 8, 8,
                               {is_chosen ? Slot::Accent : Slot::StrongLine, 1}, 1.5f);
            if (is_chosen) f.c.fill_ellipse(cx, cy - f.scroll, 4, 4, {Slot::Accent, 1});
        } else {
            f.c.fill_rounded(f.moved(Rect{cx - 6, cy - 2, 12, 9}), 2, {Slot::Text3, 1});
            f.c.stroke_ellipse(cx, cy - 3 - f.scroll, 4, 4, {Slot::Text3, 1}, 1.5f);
        }
        float tx = row.x + 42;
        float status_w = 0;
        if (!offered) {
            std::string status = drive_row_status(f.t, refusals);
            status_w = std::min(std::ceil(f.c.measure(status, kCaption, 1000).w) + 18, 250.0f);
            Rect pill{row.right() - 12 - status_w, row.y + (row_h - 22) / 2, status_w, 22};
            f.c.fill_rounded(f.moved(pill), 11, {Slot::AmberTint, 1});
            f.label(status, Rect{pill.x + 9, pill.y, pill.w - 18, pill.h}, kCaption,
                    {Slot::Amber, 1}, Align::Center);
        }
        float text_w = row.right() - 12 - (status_w > 0 ? status_w + 10 : 0) - tx;
        Paint name_paint{offered ? Slot::Text : Slot::Text2, 1};
        f.label(drive_label(*drive), Rect{tx, row.y + 9, text_w, 20}, kBodyStrong, name_paint);
        f.label(drive_row_detail(f.t, *drive), Rect{tx, row.y + 30, text_w, 18}, kSmall,
                {offered ? Slot::Text2 : Slot::Text3, 1});
        if (offered) {
            if (f.focused(id)) f.focus_ring(row, 8);
            f.region(id, row);
        }
        y += row_h + 4;
    }
    return top + height;
}

float verify_row(Frame& f, float top) {
    ElementId id{UiAction::ToggleVerify};
    Rect row{40, top, 480, 50};
    bool enabled = action_enabled(f.s, id);
    float dim = enabled ? 1.0f : f.s.palette.opacity;
    // High contrast dims nothing: disabled texts take the grey text colour.
    const bool grey = !enabled && f.s.palette.high_contrast;
    float hv = enabled ? f.hover(id) : 0;
    if (hv > 0) f.c.fill_rounded(f.moved(row), 8, {Slot::Surface3, hv * 0.6f});
    float sw_w = 40, sw_h = 22;
    float sx = row.right() - 12 - sw_w, sy = top + (50 - sw_h) / 2;
    f.label(f.tx(TextId::VerifyAfterWriting), Rect{row.x + 12, top + 6, sx - 12 - row.x - 12, 20},
            kBodyStrong, {grey ? Slot::Text3 : Slot::Text, dim});
    f.label(f.tx(TextId::VerifyDescription), Rect{row.x + 12, top + 27, sx - 12 - row.x - 12, 18},
            kSmall, {grey ? Slot::Text3 : Slot::Text2, dim});
    // The switch: the knob slides with the switch animation.
    float on = f.s.switch_anim.duration > 0 ? f.s.switch_anim.value(f.now)
                                            : (f.s.prefs.verify ? 1.0f : 0.0f);
    Rect track = f.moved(Rect{sx, sy, sw_w, sw_h});
    f.c.fill_rounded(track, sw_h / 2, {Slot::StrongLine, dim});
    if (on > 0) f.c.fill_rounded(track, sw_h / 2, {Slot::Accent, dim * on});
    float knob_x = sx + 11 + on * (sw_w - 22);
    f.c.fill_ellipse(knob_x, sy + sw_h / 2 - f.scroll, 8, 8, {Slot::OnAccent, dim});
    if (f.focused(id)) f.focus_ring(row, 8);
    f.region(id, row);
    return top + 50;
}

// The setup screen scrolls above its main button, which keeps its place
// whatever the content above it holds.
constexpr float kSetupViewBottom = 608;
constexpr Rect kMainButton{kLeft, 616, kWidth, 48};

// A thin bar at the right of the scrolled area: its thumb tells how much of
// the content is in sight and where.
void scroll_indicator(Frame& f, const Rect& view, float limit) {
    const float x = kRight + 12, w = 4;
    const float top = view.y + 6, h = view.h - 12;
    const float thumb = std::max(32.0f, h * view.h / (view.h + limit));
    const float y = top + (h - thumb) * std::clamp(f.scroll / limit, 0.0f, 1.0f);
    f.c.fill_rounded(Rect{x, top, w, h}, w / 2, {Slot::Surface3, 1});
    f.c.fill_rounded(Rect{x, y, w, thumb}, w / 2, {Slot::Text3, 1});
}

void setup_screen(Frame& f) {
    const Rect view{0, kContentTop, kClientWidth, kSetupViewBottom - kContentTop};
    // Where the content ends: the verify row and a margin under it.
    const float end =
        kImageCardTop + image_card_height(f) + 14 + drive_card_height(f.s) + 10 + 50 + 8;
    const float limit = std::max(0.0f, end - view.bottom());
    f.s.viewport = view;
    f.s.scroll_limit = limit;
    f.scroll = std::clamp(f.s.scroll, 0.0f, limit);
    const Rect outside = f.visible;
    f.visible = view;
    f.c.push_clip(view);
    f.label(f.tx(TextId::SetupTitle), Rect{kLeft, 80, kWidth, 34}, kTitle, {Slot::Text, 1});
    f.label(f.tx(TextId::SetupSubtitle), Rect{kLeft, 116, kWidth, 22}, kBody, {Slot::Text2, 1});
    float y = image_card(f);
    y = drive_card(f, y + 14);
    verify_row(f, y + 10);
    f.c.pop_clip();
    if (limit > 0) scroll_indicator(f, view, limit);
    f.visible = outside;
    f.scroll = 0;
    f.button({UiAction::Create}, f.tx(TextId::CreateBootableUsb), kMainButton, ButtonKind::Primary,
             TextStyle{15, 3, FontFamily::Text});
}

// --- Progress screen -----------------------------------------------------------

void step_indicator(Frame& f, float top) {
    const WindowState& s = f.s;
    std::vector<TextId> names;
    int current = 0;
    AppPhase p = s.phase;
    if (s.write_verify) {
        names = {TextId::StepPreparing, TextId::StepWriting, TextId::StepVerifying,
                 TextId::StepFinishing};
        current = p == AppPhase::Preparing                              ? 0
                  : p == AppPhase::Writing                              ? 1
                  : p == AppPhase::Flushing || p == AppPhase::Verifying ? 2
                                                                        : 3;
    } else {
        names = {TextId::StepPreparing, TextId::StepWriting, TextId::StepFinishing};
        current = p == AppPhase::Preparing ? 0 : p == AppPhase::Writing ? 1 : 2;
    }
    const float n = static_cast<float>(names.size());
    const float cell = kWidth / n;
    for (size_t i = 0; i < names.size(); ++i) {
        float cx = kLeft + cell * (static_cast<float>(i) + 0.5f);
        int idx = static_cast<int>(i);
        if (i + 1 < names.size()) {
            float nx = cx + cell;
            f.c.line(cx + 16, top + 14 - f.scroll, nx - 16, top + 14 - f.scroll,
                     {idx < current ? Slot::Accent : Slot::StrongLine, 1}, 2);
        }
        if (idx < current) {
            f.c.fill_ellipse(cx, top + 14 - f.scroll, 12, 12, {Slot::Accent, 1});
            f.c.text("✓", f.moved(Rect{cx - 12, top + 2, 24, 24}),
                     TextStyle{13, 4, FontFamily::Text}, {Slot::OnAccent, 1}, Align::Center,
                     Align::Center);
        } else if (idx == current) {
            f.c.fill_ellipse(cx, top + 14 - f.scroll, 16, 16, {Slot::AccentVeil, 1});
            f.c.fill_ellipse(cx, top + 14 - f.scroll, 12, 12, {Slot::Accent, 1});
            f.c.text(std::to_string(i + 1), f.moved(Rect{cx - 12, top + 2, 24, 24}),
                     TextStyle{12, 3, FontFamily::Text}, {Slot::OnAccent, 1}, Align::Center,
                     Align::Center);
        } else {
            f.c.stroke_ellipse(cx, top + 14 - f.scroll, 12, 12, {Slot::StrongLine, 1}, 1.5f);
            f.c.text(std::to_string(i + 1), f.moved(Rect{cx - 12, top + 2, 24, 24}),
                     TextStyle{12, 3, FontFamily::Text}, {Slot::Text3, 1}, Align::Center,
                     Align::Center);
        }
        f.label(f.tx(names[i]), Rect{cx - cell / 2 + 4, top + 34, cell - 8, 18}, kCaption,
                {idx <= current ? Slot::Text : Slot::Text3, 1}, Align::Center);
    }
}

std::string detail_line(Frame& f) {
    const WindowState& s = f.s;
    if (s.phase == AppPhase::Preparing) {
        static constexpr TextId kSteps[] = {
            TextId::PrepareChecking, TextId::PrepareWaitingForRelease, TextId::PrepareTakingOffline,
            TextId::PrepareOpening, TextId::PrepareClearing};
        auto step = static_cast<size_t>(s.shown_step);
        if (step > 4) step = 0;
        return format_text("{}…", {f.tx(kSteps[step])});
    }
    if ((s.shown_phase == WritePhase::Writing || s.shown_phase == WritePhase::Verifying) &&
        s.shown_total > 0 && is_write_in_progress(s.phase)) {
        std::string where = str(f.tx(TextId::BootArea));
        if (s.image && s.image->inspection) {
            if (const ImageFile* file = file_at_position(s.image->inspection->files, s.shown_done))
                where = file->path;
        }
        TextId id =
            s.shown_phase == WritePhase::Verifying ? TextId::VerifyingFile : TextId::WritingFile;
        return format_text(f.tx(id), {where});
    }
    return {};
}

float overall_fraction(const WindowState& s) {
    if (s.shown_total == 0) {
        if (s.phase == AppPhase::Flushing) return s.write_verify ? 0.7f : 1.0f;
        if (s.phase == AppPhase::Ejecting) return 1.0f;
        if (s.phase == AppPhase::Verifying) return 0.7f;
        return 0;
    }
    float part = static_cast<float>(static_cast<double>(std::min(s.shown_done, s.shown_total)) /
                                    static_cast<double>(s.shown_total));
    float write_share = s.write_verify ? 0.7f : 1.0f;
    switch (s.phase) {
        case AppPhase::Writing:
            return write_share * part;
        case AppPhase::Flushing:
            return write_share;
        case AppPhase::Verifying:
            return 0.7f + 0.3f * part;
        case AppPhase::Ejecting:
            return 1.0f;
        default:
            return 0;
    }
}

void progress_screen(Frame& f) {
    const WindowState& s = f.s;
    f.label(f.tx(TextId::ProgressTitle), Rect{kLeft, 80, kWidth, 34}, kTitle, {Slot::Text, 1});
    step_indicator(f, 136);
    const float top = 214;
    f.card(Rect{kLeft, top, kWidth, 262});
    const float inner = kLeft + 20, inner_w = kWidth - 40;
    TextId sub = s.phase == AppPhase::Preparing   ? TextId::PhasePreparing
                 : s.phase == AppPhase::Writing   ? TextId::PhaseWriting
                 : s.phase == AppPhase::Flushing  ? TextId::PhaseFlushing
                 : s.phase == AppPhase::Verifying ? TextId::PhaseVerifying
                                                  : TextId::PhaseEjecting;
    float fraction = overall_fraction(s);
    std::string percent = fmt("{}%", static_cast<int>(std::floor(fraction * 100)));
    float pw = std::ceil(f.c.measure(percent, kValue, 1000).w) + 2;
    f.label(f.tx(sub), Rect{inner, top + 20, inner_w - pw - 8, 24}, kHeading, {Slot::Text, 1});
    f.label(percent, Rect{kRight - 20 - pw, top + 20, pw, 24}, kValue, {Slot::Accent, 1},
            Align::End);
    f.label(detail_line(f), Rect{inner, top + 50, inner_w, 18}, kSmall, {Slot::Text2, 1});
    if (s.phase == AppPhase::Preparing || (s.phase == AppPhase::Flushing && s.shown_total == 0)) {
        f.indeterminate_bar(Rect{inner, top + 80, inner_w, 8});
    } else {
        f.bar(Rect{inner, top + 80, inner_w, 8}, fraction);
    }
    // Statistics, two by two.
    std::string written = s.progress_seen
                              ? format_text(f.tx(TextId::AmountOfTotal),
                                            {format_size(s.shown_done), format_size(s.shown_total)})
                              : std::string("—");
    std::string speed = s.write_rate.has_value && s.write_rate.rate >= 50000
                            ? format_speed(f.t, s.write_rate.rate)
                            : std::string("—");
    std::string remaining = s.remaining.kind == Remaining::None ? std::string("—")
                            : s.remaining.kind == Remaining::Finishing
                                ? str(f.tx(TextId::FinishingEllipsis))
                                : format_duration(f.t, s.remaining.seconds);
    std::string elapsed = elapsed_text(f.now - s.write_started_at);
    const std::pair<TextId, std::string> stats[] = {{TextId::StatWritten, written},
                                                    {TextId::StatSpeed, speed},
                                                    {TextId::StatTimeRemaining, remaining},
                                                    {TextId::StatElapsed, elapsed}};
    const float cell_w = (inner_w - 12) / 2;
    for (int i = 0; i < 4; ++i) {
        float cx = inner + static_cast<float>(i % 2) * (cell_w + 12);
        float cy = top + 110 + static_cast<float>(i / 2) * 70;
        f.c.fill_rounded(f.moved(Rect{cx, cy, cell_w, 60}), 8, {Slot::Surface2, 1});
        f.label(f.tx(stats[i].first), Rect{cx + 14, cy + 9, cell_w - 28, 18}, kSmall,
                {Slot::Text2, 1});
        f.label(stats[i].second, Rect{cx + 14, cy + 29, cell_w - 28, 22}, kValue, {Slot::Text, 1});
    }
    f.button({UiAction::StopWrite}, f.tx(TextId::Stop), Rect{kLeft, 616, kWidth, 48},
             ButtonKind::Secondary, TextStyle{15, 3, FontFamily::Text});
}

// --- End screens -----------------------------------------------------------------

void complete_screen(Frame& f) {
    const WindowState& s = f.s;
    // The mark grows in over the first moments of the screen.
    float grow = 1;
    if (s.complete_at)
        grow = std::clamp(static_cast<float>((f.now - *s.complete_at) / 0.4), 0.0f, 1.0f);
    f.status_circle(280, 150, 22 + 10 * grow, Slot::Green, Slot::GreenTint, "✓");
    f.label(f.tx(TextId::CompleteTitle), Rect{kLeft, 212, kWidth, 34}, kTitle, {Slot::Text, 1},
            Align::Center);
    f.label(f.tx(TextId::MediaCreated), Rect{kLeft, 250, kWidth, 22}, kBody, {Slot::Green, 1},
            Align::Center);
    const float top = 296, inner = kLeft + 20, inner_w = kWidth - 40;
    float y = top + 18;
    std::vector<std::pair<std::string, Slot>> lines;
    bool verified = s.summary && s.summary->verify_seconds.has_value();
    lines.push_back({str(f.tx(verified ? TextId::IntegrityVerified : TextId::VerificationSkipped)),
                     verified ? Slot::Green : Slot::Text2});
    if (s.summary) {
        double size = static_cast<double>(s.summary->image_size);
        std::string w = format_speed(f.t, size / std::max(s.summary->write_seconds, 0.001));
        if (verified) {
            std::string v = format_speed(f.t, size / std::max(*s.summary->verify_seconds, 0.001));
            lines.push_back({format_text(f.tx(TextId::WrittenAndVerifiedAt), {w, v}), Slot::Text2});
        } else {
            lines.push_back({format_text(f.tx(TextId::WrittenAt), {w}), Slot::Text2});
        }
    }
    lines.push_back(
        {str(f.tx(s.eject == EjectState::Ejected ? TextId::SafeToRemove : TextId::UsbReady)),
         Slot::Text});
    float h = 0;
    for (auto& [line, slot] : lines)
        h += std::ceil(f.c.measure(f.fit(line, kBody, inner_w, 2), kBody, inner_w).h) + 8;
    std::string eject_failed;
    float eh = 0;
    if (s.eject == EjectState::Failed) {
        eject_failed = f.fit(f.tx(TextId::EjectFailed), kSmall, inner_w - 24, 4);
        eh = std::ceil(f.c.measure(eject_failed, kSmall, inner_w - 24).h) + 20;
    }
    f.card(Rect{kLeft, top, kWidth, 18 + h + eh + 10});
    for (auto& [line, slot] : lines)
        y += f.paragraph(line, inner, y, inner_w, kBody, {slot, 1}, Align::Start, 2) + 8;
    if (!eject_failed.empty()) {
        f.c.fill_rounded(f.moved(Rect{inner, y, inner_w, eh - 8}), 6, {Slot::AmberTint, 1});
        f.paragraph(eject_failed, inner + 12, y + 6, inner_w - 24, kSmall, {Slot::Amber, 1},
                    Align::Start, 4);
    }
    if (s.eject == EjectState::NotStarted || s.eject == EjectState::Running) {
        std::string_view label =
            f.tx(s.eject == EjectState::Running ? TextId::EjectingEllipsis : TextId::EjectDrive);
        f.button({UiAction::Eject}, label, Rect{kLeft, 560, kWidth, 44}, ButtonKind::Secondary);
    }
    f.button({UiAction::Done}, f.tx(TextId::Done), Rect{kLeft, 616, kWidth, 48},
             ButtonKind::Primary, TextStyle{15, 3, FontFamily::Text});
}

void cancelled_screen(Frame& f) {
    f.status_circle(280, 150, 30, Slot::Amber, Slot::AmberTint, "!");
    f.label(f.tx(TextId::CancelledTitle), Rect{kLeft, 212, kWidth, 34}, kTitle, {Slot::Text, 1},
            Align::Center);
    f.paragraph(f.tx(TextId::CancelledAdvice), kLeft + 24, 254, kWidth - 48, kBody,
                {Slot::Text2, 1}, Align::Center, 3);
    f.button({UiAction::Done}, f.tx(TextId::Done), Rect{kLeft, 616, kWidth, 48},
             ButtonKind::Primary, TextStyle{15, 3, FontFamily::Text});
}

void failed_screen(Frame& f) {
    const WindowState& s = f.s;
    f.status_circle(280, 140, 30, Slot::Red, Slot::RedTint, "×");
    FailureMessage msg = failure_message(s);
    float y = 200;
    y += f.paragraph(msg.title, kLeft, y, kWidth, TextStyle{20, 3, FontFamily::Display},
                     {Slot::Text, 1}, Align::Center, 2) +
         8;
    y += f.paragraph(msg.advice, kLeft + 16, y, kWidth - 32, kBody, {Slot::Text2, 1}, Align::Center,
                     3) +
         20;
    // The row of detail buttons, centred.
    std::string_view toggle = f.tx(s.details_expanded ? TextId::HideDetails : TextId::ShowDetails);
    bool copied = s.copied_at && f.now - *s.copied_at < 1.6;
    std::string copy =
        copied ? fmt("✓ {}", f.tx(TextId::CopyDetails)) : str(f.tx(TextId::CopyDetails));
    std::string_view folder = f.tx(TextId::OpenLogFolder);
    float w1 = f.button_width(toggle) - 24, w2 = f.button_width(copy) - 24,
          w3 = f.button_width(folder) - 24;
    float total = w1 + w2 + w3 + 16;
    float scale = total > kWidth ? kWidth / total : 1.0f;
    w1 *= scale, w2 *= scale, w3 *= scale;
    float x = kLeft + (kWidth - (w1 + w2 + w3 + 16)) / 2;
    f.button({UiAction::ToggleDetails}, toggle, Rect{x, y, w1, 34}, ButtonKind::Link);
    f.button({UiAction::CopyDetails}, copy, Rect{x + w1 + 8, y, w2, 34}, ButtonKind::Link);
    f.button({UiAction::OpenLogFolder}, folder, Rect{x + w1 + w2 + 16, y, w3, 34},
             ButtonKind::Link);
    y += 46;
    if (s.details_expanded) {
        float box_h = std::min(600.0f - y, 150.0f);
        Rect box{kLeft, y, kWidth, box_h};
        f.c.fill_rounded(f.moved(box), 8, {Slot::Surface3, 1});
        int lines = std::max(1, static_cast<int>((box_h - 24) / (kMono.size * 1.34f)));
        f.paragraph(msg.details, kLeft + 14, y + 12, kWidth - 28, kMono, {Slot::Text, 1},
                    Align::Start, lines);
    }
    const float half = (kWidth - 8) / 2;
    f.button({UiAction::TryAgain}, f.tx(TextId::TryAgain), Rect{kLeft, 616, half, 48},
             ButtonKind::Secondary, TextStyle{15, 3, FontFamily::Text});
    f.button({UiAction::Done}, f.tx(TextId::Done), Rect{kLeft + half + 8, 616, half, 48},
             ButtonKind::Primary, TextStyle{15, 3, FontFamily::Text});
}

// --- Overlays ------------------------------------------------------------------------

struct Dialog {
    float x = 70, w = 420, pad = 24;
    float inner_x() const { return x + pad; }
    float inner_w() const { return w - 2 * pad; }
};

// Two buttons side by side at the bottom of a dialog.
void dialog_buttons(Frame& f, const Dialog& d, float y, ElementId left_id, std::string_view left,
                    ElementId right_id, std::string_view right, ButtonKind right_kind) {
    float half = (d.inner_w() - 10) / 2;
    f.button(left_id, left, Rect{d.inner_x(), y, half, 44}, ButtonKind::Secondary);
    f.button(right_id, right, Rect{d.inner_x() + half + 10, y, half, 44}, right_kind);
}

// The measured height of a wrapped text in a dialog.
float text_height(Frame& f, std::string_view s_in, const TextStyle& style, float width, int lines) {
    return std::ceil(f.c.measure(f.fit(s_in, style, width, lines), style, width).h);
}

void dialog_frame(Frame& f, const Dialog& d, float top, float height, float opacity) {
    Rect r{d.x, top + (1 - opacity) * 12, d.w, height};
    f.c.fill_rounded(Rect{r.x, r.y + 4, r.w, r.h}, 14, {Slot::Shadow, opacity * 2});
    f.c.fill_rounded(r, 14, {Slot::Surface, 1});
    f.c.stroke_rounded(r, 14, {Slot::Line, 1}, 1);
}

void overlay(Frame& f) {
    const WindowState& s = f.s;
    if (s.overlay == Overlay::None) return;
    f.scroll = 0;
    float fade = s.overlay_fade.duration > 0 ? s.overlay_fade.value(f.now) : 1.0f;
    f.c.fill_rect(Rect{0, 0, kClientWidth, kClientHeight}, {Slot::Scrim, fade});
    Dialog d;
    const float iw = d.inner_w();
    auto centred_top = [](float h) { return std::max(40.0f, (kClientHeight - h) / 2); };
    switch (s.overlay) {
        case Overlay::EraseConfirm: {
            const DeviceInfo* drive = selected_drive(s);
            std::string name;
            if (drive)
                name = format_text("{} {}", {format_text(f.tx(TextId::DiskNumber),
                                                         {std::to_string(drive->number)}),
                                             drive_label(*drive)});
            std::string title = format_text(f.tx(TextId::EraseQuestion), {name});
            bool unsigned_image =
                s.image && s.image->inspection && !s.image->inspection->is_signed();
            float h1 = text_height(f, title, kHeading, iw, 2);
            float h2 = text_height(f, f.tx(TextId::EraseWarning), kBody, iw, 3);
            float h3 = unsigned_image
                           ? text_height(f, f.tx(TextId::EraseUnsignedWarning), kSmall, iw, 2) + 10
                           : 0;
            float h = d.pad + 48 + h1 + 8 + h2 + h3 + 24 + 44 + d.pad;
            float top = centred_top(h);
            dialog_frame(f, d, top, h, fade);
            float y = top + d.pad;
            f.c.fill_ellipse(d.inner_x() + 18, y + 18, 18, 18, {Slot::RedTint, 1});
            f.c.text("!", Rect{d.inner_x(), y, 36, 36}, TextStyle{18, 4, FontFamily::Text},
                     {Slot::Red, 1}, Align::Center, Align::Center);
            y += 48;
            y +=
                f.paragraph(title, d.inner_x(), y, iw, kHeading, {Slot::Text, 1}, Align::Start, 2) +
                8;
            y += f.paragraph(f.tx(TextId::EraseWarning), d.inner_x(), y, iw, kBody,
                             {Slot::Text2, 1}, Align::Start, 3);
            if (unsigned_image)
                y += 10 + f.paragraph(f.tx(TextId::EraseUnsignedWarning), d.inner_x(), y + 10, iw,
                                      kSmall, {Slot::Amber, 1}, Align::Start, 2);
            y += 24;
            dialog_buttons(f, d, y, {UiAction::DismissErase}, f.tx(TextId::Cancel),
                           {UiAction::AcceptErase}, f.tx(TextId::EraseAndCreate),
                           ButtonKind::Danger);
            break;
        }
        case Overlay::StopConfirm: {
            float h1 = text_height(f, f.tx(TextId::StopQuestion), kHeading, iw, 2);
            float h2 = text_height(f, f.tx(TextId::StopWarning), kBody, iw, 3);
            float h = d.pad + h1 + 8 + h2 + 24 + 44 + d.pad;
            float top = centred_top(h);
            dialog_frame(f, d, top, h, fade);
            float y = top + d.pad;
            y += f.paragraph(f.tx(TextId::StopQuestion), d.inner_x(), y, iw, kHeading,
                             {Slot::Text, 1}, Align::Start, 2) +
                 8;
            y += f.paragraph(f.tx(TextId::StopWarning), d.inner_x(), y, iw, kBody, {Slot::Text2, 1},
                             Align::Start, 3) +
                 24;
            dialog_buttons(f, d, y, {UiAction::DismissOverlay}, f.tx(TextId::Continue),
                           {UiAction::ConfirmStop}, f.tx(TextId::Stop), ButtonKind::Danger);
            break;
        }
        case Overlay::Appearance: {
            float h = d.pad + 26 + 16 + 36 + 12 + 36 + 20 + 40 + d.pad;
            float top = centred_top(h);
            dialog_frame(f, d, top, h, fade);
            float y = top + d.pad;
            f.label(f.tx(TextId::SettingsTitle), Rect{d.inner_x(), y, iw, 26}, kHeading,
                    {Slot::Text, 1});
            y += 26 + 16;
            auto segments = [&](UiAction kind, uint32_t current,
                                const std::vector<std::string>& labels) {
                Rect all{d.inner_x(), y, iw, 36};
                f.c.fill_rounded(all, 8, {Slot::Surface3, 1});
                float sw_ = (iw - 8) / static_cast<float>(labels.size());
                for (size_t i = 0; i < labels.size(); ++i) {
                    ElementId id{kind, static_cast<uint32_t>(i)};
                    Rect seg{all.x + 4 + sw_ * static_cast<float>(i), y + 4, sw_, 28};
                    bool on = current == i;
                    if (on) {
                        f.c.fill_rounded(seg, 6, {Slot::Surface, 1});
                        f.c.stroke_rounded(seg, 6, {Slot::Line, 1}, 1);
                    } else if (float hv = f.hover(id); hv > 0) {
                        f.c.fill_rounded(seg, 6, {Slot::Surface2, hv});
                    }
                    f.label(labels[i], Rect{seg.x + 6, seg.y, seg.w - 12, seg.h},
                            on ? kCaption : kSmall, {on ? Slot::Text : Slot::Text2, 1},
                            Align::Center);
                    if (f.focused(id)) f.focus_ring(seg, 6);
                    f.region(id, seg);
                }
                y += 36 + 12;
            };
            segments(UiAction::SetTheme, static_cast<uint32_t>(s.prefs.theme),
                     {str(f.tx(TextId::ThemeSystem)), str(f.tx(TextId::ThemeLight)),
                      str(f.tx(TextId::ThemeDark))});
            segments(
                UiAction::SetLanguage, s.lang,
                {str(selector_label(Language::English)), str(selector_label(Language::Spanish)),
                 str(selector_label(Language::Chinese))});
            y += 8;
            std::string_view close = f.tx(TextId::Close);
            float cw = f.button_width(close);
            f.button({UiAction::ClosePanel}, close, Rect{d.x + d.w - d.pad - cw, y, cw, 40},
                     ButtonKind::Secondary);
            break;
        }
        case Overlay::CloseRefused: {
            float h1 = text_height(f, f.tx(TextId::WriteRunningTitle), kHeading, iw, 2);
            float h2 = text_height(f, f.tx(TextId::WriteRunningAdvice), kBody, iw, 3);
            float h = d.pad + h1 + 8 + h2 + 24 + 44 + d.pad;
            float top = centred_top(h);
            dialog_frame(f, d, top, h, fade);
            float y = top + d.pad;
            y += f.paragraph(f.tx(TextId::WriteRunningTitle), d.inner_x(), y, iw, kHeading,
                             {Slot::Text, 1}, Align::Start, 2) +
                 8;
            y += f.paragraph(f.tx(TextId::WriteRunningAdvice), d.inner_x(), y, iw, kBody,
                             {Slot::Text2, 1}, Align::Start, 3) +
                 24;
            std::string_view close = f.tx(TextId::Close);
            float cw = std::max(f.button_width(close), 120.0f);
            f.button({UiAction::ClosePanel}, close, Rect{d.x + d.w - d.pad - cw, y, cw, 44},
                     ButtonKind::Primary);
            break;
        }
        case Overlay::DriveCheck: {
            std::string name = s.checked_drive ? drive_label(*s.checked_drive) : std::string();
            float y0 = 0;
            std::vector<std::pair<std::string, std::string>> checks;
            std::string verdict, advice, foot;
            bool healthy = false;
            if (!s.drive_check_running && s.drive_check) {
                const HealthReport& r = *s.drive_check;
                healthy = is_healthy(r);
                verdict = str(f.tx(healthy ? TextId::DriveHealthy : TextId::DriveHasProblems));
                if (!healthy) advice = str(f.tx(TextId::UseAnotherDrive));
                auto outcome = [&](const Verdict& v) -> std::string {
                    switch (v.kind) {
                        case Verdict::Pass:
                            if (v.speed) {
                                std::string speed = format_text(
                                    "{}/s", {format_size(static_cast<uint64_t>(*v.speed))});
                                if (*v.speed < 1e6)
                                    return format_text("{} · {}", {f.tx(TextId::Slow), speed});
                                return fmt("✓ {}", speed);
                            }
                            return "✓";
                        case Verdict::NoResponse:
                            return str(f.tx(TextId::OutcomeNoResponse));
                        case Verdict::WriteProtected:
                            return str(f.tx(TextId::OutcomeWriteProtected));
                        case Verdict::Failed:
                            return str(f.tx(TextId::OutcomeFailed));
                        case Verdict::Skipped:
                            return str(f.tx(TextId::OutcomeNotTested));
                    }
                    return {};
                };
                checks = {{str(f.tx(TextId::CheckFileSave)), outcome(r.file_write)},
                          {str(f.tx(TextId::CheckRead)), outcome(r.read)},
                          {str(f.tx(TextId::CheckDirectWrite)), outcome(r.write)}};
                foot = str(f.tx(r.error ? TextId::CheckImpossible : TextId::NothingChanged));
            }
            float h;
            std::string checking = format_text(f.tx(TextId::CheckingDrive), {name});
            if (s.drive_check_running || !s.drive_check) {
                h = d.pad + 26 + 14 + text_height(f, checking, kBodyStrong, iw, 2) + 6 +
                    text_height(f, f.tx(TextId::CheckTakesAMinute), kSmall, iw, 3) + 18 + 6 + 24 +
                    40 + d.pad;
            } else {
                h = d.pad + 26 + 14 + text_height(f, verdict, kBodyStrong, iw, 2) +
                    (advice.empty() ? 0 : 4 + text_height(f, advice, kSmall, iw, 2)) + 14 + 3 * 38 +
                    10 + text_height(f, foot, kSmall, iw, 2) + 20 + 40 + d.pad;
            }
            float top = centred_top(h);
            dialog_frame(f, d, top, h, fade);
            float y = top + d.pad;
            f.label(f.tx(TextId::DriveCheckTitle), Rect{d.inner_x(), y, iw, 26}, kHeading,
                    {Slot::Text, 1});
            y += 26 + 14;
            if (s.drive_check_running || !s.drive_check) {
                y += f.paragraph(checking, d.inner_x(), y, iw, kBodyStrong, {Slot::Text, 1},
                                 Align::Start, 2) +
                     6;
                y += f.paragraph(f.tx(TextId::CheckTakesAMinute), d.inner_x(), y, iw, kSmall,
                                 {Slot::Text2, 1}, Align::Start, 3) +
                     18;
                f.indeterminate_bar(Rect{d.inner_x(), y, iw, 6});
                y += 6 + 24;
            } else {
                y += f.paragraph(verdict, d.inner_x(), y, iw, kBodyStrong,
                                 {healthy ? Slot::Green : Slot::Red, 1}, Align::Start, 2);
                if (!advice.empty())
                    y += 4 + f.paragraph(advice, d.inner_x(), y + 4, iw, kSmall, {Slot::Text2, 1},
                                         Align::Start, 2);
                y += 14;
                for (auto& [label_text, result] : checks) {
                    Rect row{d.inner_x(), y, iw, 34};
                    f.c.fill_rounded(row, 6, {Slot::Surface2, 1});
                    float rw =
                        std::min(std::ceil(f.c.measure(result, kCaption, 1000).w) + 2, iw * 0.45f);
                    f.label(label_text, Rect{row.x + 12, row.y, iw - rw - 36, row.h}, kSmall,
                            {Slot::Text, 1});
                    bool pass = result.rfind("✓", 0) == 0;
                    f.label(result, Rect{row.right() - 12 - rw, row.y, rw, row.h}, kCaption,
                            {pass ? Slot::Green : Slot::Amber, 1}, Align::End);
                    y += 38;
                }
                y += 10;
                y += f.paragraph(foot, d.inner_x(), y, iw, kSmall, {Slot::Text3, 1}, Align::Start,
                                 2) +
                     20;
            }
            (void)y0;
            std::string_view close = f.tx(TextId::Close);
            float cw = std::max(f.button_width(close), 120.0f);
            f.button({UiAction::CloseDriveCheck}, close, Rect{d.x + d.w - d.pad - cw, y, cw, 40},
                     ButtonKind::Primary);
            break;
        }
        case Overlay::None:
            break;
    }
}

void draw_screen(Frame& f, ScreenKind kind) {
    switch (kind) {
        case ScreenKind::Setup:
            setup_screen(f);
            break;
        case ScreenKind::Progress:
            progress_screen(f);
            break;
        case ScreenKind::Complete:
            complete_screen(f);
            break;
        case ScreenKind::Cancelled:
            cancelled_screen(f);
            break;
        case ScreenKind::Failed:
            failed_screen(f);
            break;
    }
}

}  // namespace

const ImageFile* file_at_position(const std::vector<ImageFile>& files, uint64_t position) {
    auto after = std::upper_bound(files.begin(), files.end(), position,
                                  [](uint64_t p, const ImageFile& f) { return p < f.offset; });
    if (after == files.begin()) return nullptr;
    auto last = after - 1;
    for (int back = 0; back < 3; ++back) {
        if (last->offset <= position && position < last->offset + last->size) return &*last;
        if (last == files.begin()) break;
        --last;
    }
    return nullptr;
}

std::string elapsed_text(double seconds) {
    uint64_t whole = seconds > 0 ? static_cast<uint64_t>(seconds) : 0;
    uint64_t s = whole % 60;
    return fmt("{}:{}{}", whole / 60, s < 10 ? "0" : "", s);
}

void build_frame(WindowState& state, Canvas& canvas, double now) {
    Frame f{state, canvas, now, string_table(language_from_value(state.lang))};
    state.regions.clear();
    canvas.fill_rect(Rect{0, 0, kClientWidth, kClientHeight}, {Slot::Background, 1});
    header(f);
    // Below an overlay nothing can be pressed: only the overlay's regions count.
    const bool live = state.overlay == Overlay::None;
    const Rect content{0, kContentTop, kClientWidth, kContentBottom - kContentTop};
    canvas.push_clip(content);
    float fade = state.screen_fade.duration > 0 ? state.screen_fade.value(now) : 1.0f;
    if (fade < 1 && state.previous_screen != state.screen) {
        // The old screen fades out under the new one, as it was last drawn.
        replay(state.outgoing_picture, canvas);
        canvas.fill_rect(content, {Slot::Background, fade});
    }
    // Only the setup screen scrolls; it says so itself.
    state.viewport = content;
    state.scroll_limit = 0;
    KeepingCanvas kept(canvas);
    Frame screen{state, kept, now, f.t};
    screen.regions_on = live;
    screen.visible = content;
    draw_screen(screen, state.screen);
    state.screen_picture = kept.take();
    canvas.pop_clip();
    f.regions_on = live;
    footer(f);
    f.regions_on = true;
    overlay(f);
}

}  // namespace sw
