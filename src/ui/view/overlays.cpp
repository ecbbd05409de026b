#include <algorithm>
#include <cmath>

#include "core/text.h"
#include "format/format.h"
#include "i18n/format.h"
#include "i18n/messages.h"
#include "ui/view/parts.h"

namespace sw::view {

namespace {

// A dialog: a centred panel whose content is laid out as one column.
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

// The panel with its content, centred in the window as high as the content
// is, sliding in with the overlay's fade.
void show_dialog(Frame& f, const Dialog& d, const Column& content, std::string_view name) {
    const float height = d.pad + content.height() + d.pad;
    const float top = std::max(40.0f, (kClientHeight - height) / 2);
    const float opacity =
        f.s.animations.overlay_fade.duration > 0 ? f.s.animations.overlay_fade.value(f.now) : 1.0f;
    Rect r{d.x, top + (1 - opacity) * 12, d.w, height};
    f.c.fill_rounded(Rect{r.x, r.y + 4, r.w, r.h}, 14, {Slot::Shadow, opacity * 2});
    f.c.fill_rounded(r, 14, {Slot::Surface, 1});
    f.c.stroke_rounded(r, 14, {Slot::Line, 1}, 1);
    f.group(f.plain_node(A11yText::Dialog, A11yRole::Dialog, name), r);
    content.draw(top + d.pad);
    f.end_group();
}

// A wrapped text as a block of the column.
void add_paragraph(Frame& f, Column& col, const Dialog& d, A11yText role, std::string text,
                   const TextStyle& style, Paint paint, int lines) {
    const float h = f.text_height(text, style, d.inner_w(), lines);
    col.add(h, [&f, &d, role, text = std::move(text), style, paint, lines, h](float y) {
        f.paragraph(text, d.inner_x(), y, d.inner_w(), style, paint, Align::Start, lines);
        f.text_node(role, text, Rect{d.inner_x(), y, d.inner_w(), h});
    });
}

// The dialog's closing button at its right edge.
void add_close_button(Frame& f, Column& col, const Dialog& d, ElementId id, float height,
                      float min_width, ButtonKind kind) {
    col.add(height, [&f, &d, id, height, min_width, kind](float y) {
        std::string_view close = f.tx(TextId::Close);
        float cw = std::max(f.button_width(close), min_width);
        f.button(id, close, Rect{d.x + d.w - d.pad - cw, y, cw, height}, kind);
    });
}

// "Disk 2 SanDisk Ultra": the drive as a confirmation names it.
std::string confirmed_drive_name(const Frame& f, const DeviceInfo* drive) {
    if (!drive) return {};
    return format_text("{} {}",
                       {format_text(f.tx(TextId::DiskNumber), {std::to_string(drive->number)}),
                        drive_label(*drive)});
}

// The red mark at the top of a confirmation that erases.
void add_erase_mark(Frame& f, Column& col, const Dialog& d) {
    col.add(48, [&f, &d](float y) {
        f.c.fill_ellipse(d.inner_x() + 18, y + 18, 18, 18, {Slot::RedTint, 1});
        f.c.text("!", Rect{d.inner_x(), y, 36, 36}, TextStyle{18, 4, FontFamily::Text},
                 {Slot::Red, 1}, Align::Center, Align::Center);
    });
}

void erase_confirm(Frame& f, const Dialog& d) {
    const WindowState& s = f.s;
    const std::string name = confirmed_drive_name(f, selected_drive(s));
    Column col;
    add_erase_mark(f, col, d);
    const std::string question = format_text(f.tx(TextId::EraseQuestion), {name});
    add_paragraph(f, col, d, A11yText::DialogTitle, question, kHeading, {Slot::Text, 1}, 2);
    col.gap(8);
    add_paragraph(f, col, d, A11yText::DialogText, str(f.tx(TextId::EraseWarning)), kBody,
                  {Slot::Text2, 1}, 3);
    if (s.image.chosen && s.image.chosen->inspection && !s.image.chosen->inspection->is_signed()) {
        col.gap(10);
        add_paragraph(f, col, d, A11yText::DialogWarning, str(f.tx(TextId::EraseUnsignedWarning)),
                      kSmall, {Slot::Amber, 1}, 2);
    }
    col.gap(24);
    col.add(44, [&](float y) {
        dialog_buttons(f, d, y, {UiAction::DismissErase}, f.tx(TextId::Cancel),
                       {UiAction::AcceptErase}, f.tx(TextId::EraseAndCreate), ButtonKind::Danger);
    });
    show_dialog(f, d, col, question);
}

// What a restore erases and what the drive gets instead.
void restore_confirm(Frame& f, const Dialog& d) {
    const DeviceInfo* drive = selected_drive(f.s);
    const std::string name = confirmed_drive_name(f, drive);
    Column col;
    add_erase_mark(f, col, d);
    const std::string question = format_text(f.tx(TextId::RestoreQuestion), {name});
    add_paragraph(f, col, d, A11yText::DialogTitle, question, kHeading, {Slot::Text, 1}, 2);
    col.gap(8);
    add_paragraph(f, col, d, A11yText::DialogText, str(f.tx(TextId::RestoreWarning)), kBody,
                  {Slot::Text2, 1}, 3);
    if (drive) {
        col.gap(6);
        const std::string_view fs = format::name(format::choose_file_system(drive->size));
        add_paragraph(f, col, d, A11yText::DialogDetail,
                      format_text(f.tx(TextId::RestoreWillHold), {fs}), kBody, {Slot::Text2, 1}, 3);
    }
    col.gap(24);
    col.add(44, [&](float y) {
        dialog_buttons(f, d, y, {UiAction::DismissRestore}, f.tx(TextId::Cancel),
                       {UiAction::AcceptRestore}, f.tx(TextId::EraseAndRestore),
                       ButtonKind::Danger);
    });
    show_dialog(f, d, col, question);
}

void stop_confirm(Frame& f, const Dialog& d) {
    Column col;
    add_paragraph(f, col, d, A11yText::DialogTitle, str(f.tx(TextId::StopQuestion)), kHeading,
                  {Slot::Text, 1}, 2);
    col.gap(8);
    add_paragraph(f, col, d, A11yText::DialogText, str(f.tx(TextId::StopWarning)), kBody,
                  {Slot::Text2, 1}, 3);
    col.gap(24);
    col.add(44, [&](float y) {
        dialog_buttons(f, d, y, {UiAction::DismissOverlay}, f.tx(TextId::Continue),
                       {UiAction::ConfirmStop}, f.tx(TextId::Stop), ButtonKind::Danger);
    });
    show_dialog(f, d, col, f.tx(TextId::StopQuestion));
}

void close_refused(Frame& f, const Dialog& d) {
    const TextId title =
        f.s.write.restore ? TextId::RestoreRunningTitle : TextId::WriteRunningTitle;
    Column col;
    add_paragraph(f, col, d, A11yText::DialogTitle, str(f.tx(title)), kHeading, {Slot::Text, 1}, 2);
    col.gap(8);
    add_paragraph(f, col, d, A11yText::DialogText, str(f.tx(TextId::WriteRunningAdvice)), kBody,
                  {Slot::Text2, 1}, 3);
    col.gap(24);
    add_close_button(f, col, d, {UiAction::ClosePanel}, 44, 120, ButtonKind::Primary);
    show_dialog(f, d, col, f.tx(title));
}

// A row of segments, one per choice, the current one raised.
void segments(Frame& f, const Dialog& d, float y, UiAction kind, uint32_t current,
              const std::vector<std::string>& labels, A11yText list, std::string_view list_name) {
    const float iw = d.inner_w();
    Rect all{d.inner_x(), y, iw, 36};
    f.c.fill_rounded(all, 8, {Slot::Surface3, 1});
    f.group(f.plain_node(list, A11yRole::List, list_name), all);
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
        f.label(labels[i], Rect{seg.x + 6, seg.y, seg.w - 12, seg.h}, on ? kCaption : kSmall,
                {on ? Slot::Text : Slot::Text2, 1}, Align::Center);
        if (f.focused(id)) f.focus_ring(seg, 6);
        f.region(id, seg);
        A11yNode n = f.element_node(id, A11yRole::RadioButton, labels[i]);
        n.selected = on;
        f.node(std::move(n), seg);
    }
    f.end_group();
}

void appearance(Frame& f, const Dialog& d) {
    const WindowState& s = f.s;
    Column col;
    col.add(26, [&](float y) {
        f.label(f.tx(TextId::SettingsTitle), Rect{d.inner_x(), y, d.inner_w(), 26}, kHeading,
                {Slot::Text, 1});
        f.text_node(A11yText::DialogTitle, f.tx(TextId::SettingsTitle),
                    Rect{d.inner_x(), y, d.inner_w(), 26});
    });
    col.gap(16);
    col.add(36, [&](float y) {
        segments(f, d, y, UiAction::SetTheme, static_cast<uint32_t>(s.appearance.prefs.theme),
                 {str(f.tx(TextId::ThemeSystem)), str(f.tx(TextId::ThemeLight)),
                  str(f.tx(TextId::ThemeDark))},
                 A11yText::ThemeList, f.tx(TextId::ThemeGroup));
    });
    col.gap(12);
    col.add(36, [&](float y) {
        segments(f, d, y, UiAction::SetLanguage, s.appearance.prefs.lang,
                 {str(selector_label(Language::English)), str(selector_label(Language::Spanish)),
                  str(selector_label(Language::Chinese))},
                 A11yText::LanguageList, f.tx(TextId::LanguageGroup));
    });
    col.gap(12 + 8);
    add_close_button(f, col, d, {UiAction::ClosePanel}, 40, 0, ButtonKind::Secondary);
    show_dialog(f, d, col, f.tx(TextId::SettingsTitle));
}

// A check's outcome as the drive check's dialog shows it.
std::string check_outcome(const Frame& f, const Verdict& v) {
    switch (v.kind) {
        case Verdict::Pass:
            if (v.speed) {
                std::string speed =
                    format_text("{}/s", {format_size(static_cast<uint64_t>(*v.speed))});
                if (*v.speed < 1e6) return format_text("{} · {}", {f.tx(TextId::Slow), speed});
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
}

// One check's row: its name, and its outcome at the right.
void check_row(Frame& f, const Dialog& d, float y, const std::string& name,
               const std::string& result, uint32_t index) {
    const float iw = d.inner_w();
    Rect row{d.inner_x(), y, iw, 34};
    f.c.fill_rounded(row, 6, {Slot::Surface2, 1});
    float rw = std::min(std::ceil(f.c.measure(result, kCaption, 1000).w) + 2, iw * 0.45f);
    f.label(name, Rect{row.x + 12, row.y, iw - rw - 36, row.h}, kSmall, {Slot::Text, 1});
    bool pass = result.rfind("✓", 0) == 0;
    f.label(result, Rect{row.right() - 12 - rw, row.y, rw, row.h}, kCaption,
            {pass ? Slot::Green : Slot::Amber, 1}, Align::End);
    f.text_node(A11yText::CheckRows, f.label_value(name, result), row, A11yRole::Text, {}, index);
}

// While the check runs: what is checked and a bar that does not end.
void drive_check_running(Frame& f, Column& col, const Dialog& d) {
    std::string name = f.s.drive_check.drive ? drive_label(*f.s.drive_check.drive) : std::string();
    const std::string checking = format_text(f.tx(TextId::CheckingDrive), {name});
    add_paragraph(f, col, d, A11yText::DialogText, checking, kBodyStrong, {Slot::Text, 1}, 2);
    col.gap(6);
    add_paragraph(f, col, d, A11yText::CheckNote, str(f.tx(TextId::CheckTakesAMinute)), kSmall,
                  {Slot::Text2, 1}, 3);
    col.gap(18);
    col.add(6, [&f, &d, checking](float y) {
        f.indeterminate_bar(Rect{d.inner_x(), y, d.inner_w(), 6});
        f.progress_node(A11yText::CheckBar, checking, Rect{d.inner_x(), y, d.inner_w(), 6},
                        std::nullopt);
    });
    col.gap(24);
}

// Once it is done: the verdict, the advice, a row per check and what it did.
void drive_check_done(Frame& f, Column& col, const Dialog& d) {
    const HealthReport& r = *f.s.drive_check.report;
    const bool healthy = is_healthy(r);
    add_paragraph(f, col, d, A11yText::CheckVerdict,
                  str(f.tx(healthy ? TextId::DriveHealthy : TextId::DriveHasProblems)), kBodyStrong,
                  {healthy ? Slot::Green : Slot::Red, 1}, 2);
    if (!healthy) {
        col.gap(4);
        add_paragraph(f, col, d, A11yText::DialogText, str(f.tx(TextId::UseAnotherDrive)), kSmall,
                      {Slot::Text2, 1}, 2);
    }
    col.gap(14);
    const std::pair<TextId, const Verdict*> checks[] = {{TextId::CheckFileSave, &r.file_write},
                                                        {TextId::CheckRead, &r.read},
                                                        {TextId::CheckDirectWrite, &r.write}};
    uint32_t index = 0;
    for (const auto& [name, verdict] : checks) {
        std::string label = str(f.tx(name));
        std::string result = check_outcome(f, *verdict);
        col.add(38, [&f, &d, label, result, index](float y) {
            check_row(f, d, y, label, result, index);
        });
        ++index;
    }
    col.gap(10);
    add_paragraph(f, col, d, A11yText::CheckNote,
                  str(f.tx(r.error ? TextId::CheckImpossible : TextId::NothingChanged)), kSmall,
                  {Slot::Text3, 1}, 2);
    col.gap(20);
}

void drive_check(Frame& f, const Dialog& d) {
    Column col;
    col.add(26, [&](float y) {
        f.label(f.tx(TextId::DriveCheckTitle), Rect{d.inner_x(), y, d.inner_w(), 26}, kHeading,
                {Slot::Text, 1});
        f.text_node(A11yText::DialogTitle, f.tx(TextId::DriveCheckTitle),
                    Rect{d.inner_x(), y, d.inner_w(), 26});
    });
    col.gap(14);
    if (f.s.drive_check.running || !f.s.drive_check.report) {
        drive_check_running(f, col, d);
    } else {
        drive_check_done(f, col, d);
    }
    add_close_button(f, col, d, {UiAction::CloseDriveCheck}, 40, 120, ButtonKind::Primary);
    show_dialog(f, d, col, f.tx(TextId::DriveCheckTitle));
}

}  // namespace

void overlay(Frame& f) {
    const WindowState& s = f.s;
    if (s.overlay == Overlay::None) return;
    f.scroll = 0;
    if (f.tree) f.tree->modal = true;
    float fade =
        s.animations.overlay_fade.duration > 0 ? s.animations.overlay_fade.value(f.now) : 1.0f;
    f.c.fill_rect(Rect{0, 0, kClientWidth, kClientHeight}, {Slot::Scrim, fade});
    const Dialog d;
    switch (s.overlay) {
        case Overlay::EraseConfirm:
            erase_confirm(f, d);
            break;
        case Overlay::StopConfirm:
            stop_confirm(f, d);
            break;
        case Overlay::Appearance:
            appearance(f, d);
            break;
        case Overlay::CloseRefused:
            close_refused(f, d);
            break;
        case Overlay::DriveCheck:
            drive_check(f, d);
            break;
        case Overlay::RestoreConfirm:
            restore_confirm(f, d);
            break;
        case Overlay::None:
            break;
    }
}

}  // namespace sw::view
