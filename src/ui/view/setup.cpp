#include <algorithm>
#include <cmath>

#include "core/text.h"
#include "i18n/format.h"
#include "i18n/messages.h"
#include "ui/view/parts.h"

namespace sw::view {

namespace {

constexpr float kImageCardTop = 158;
constexpr float kInner = kLeft + 20;
constexpr float kInnerWidth = kWidth - 40;
// The image card's two lines under its title and its row of buttons.
constexpr float kLine1 = kImageCardTop + 38;
constexpr float kLine2 = kImageCardTop + 62;
constexpr float kButtonRowTop = 238;
constexpr float kDriveRowHeight = 56;
// The setup screen scrolls above its main button, which keeps its place
// whatever the content above it holds.
constexpr float kSetupViewBottom = 608;

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

bool image_accepted(const WindowState& s) {
    return s.image.chosen && s.image.chosen->accepted && s.image.chosen->inspection;
}

// The warning under an accepted unsigned image, with its height; none for
// any other image.
std::pair<std::string, float> unsigned_warning(Frame& f) {
    const WindowState& s = f.s;
    if (!image_accepted(s) || s.image.chosen->inspection->is_signed()) return {};
    const float width = kWidth - 60;
    std::string warning = str(f.tx(TextId::UnverifiedWarning));
    return {warning, std::ceil(f.c.measure(f.fit(warning, kSmall, width, 2), kSmall, width).h)};
}

float image_card_height(Frame& f) {
    float warning_h = unsigned_warning(f).second;
    return 126 + (warning_h > 0 ? warning_h + 20 : 0);  // room below the buttons for a warning
}

// "Select ISO" and "Download latest", right-aligned in the card's button row.
void pick_buttons(Frame& f) {
    std::string_view dl = f.tx(TextId::DownloadLatest);
    std::string_view sel = f.tx(TextId::SelectIso);
    float dw = f.button_width(dl);
    float sw_ = f.button_width(sel);
    float dx = 508 - dw;
    float sx = dx - 8 - sw_;
    f.button({UiAction::SelectImage}, sel, Rect{sx, kButtonRowTop, sw_, 34}, ButtonKind::Secondary);
    f.button({UiAction::DownloadLatest}, dl, Rect{dx, kButtonRowTop, dw, 34}, ButtonKind::Primary);
}

void download_status(Frame& f) {
    const WindowState& s = f.s;
    std::string version = s.download.release ? s.download.release->manifest.version : std::string();
    const std::string title = format_text(f.tx(TextId::DownloadingVersion), {version});
    f.label(title, Rect{kInner, kLine1, kInnerWidth, 22}, kValue, {Slot::Text, 1});
    f.text_node(A11yText::ImageLine, title, Rect{kInner, kLine1, kInnerWidth, 22});
    const DownloadProgress& p = *s.download.progress;
    uint64_t done = p.done.load(), total = p.total.load();
    uint32_t retry = p.retry.load();
    std::string detail;
    if (retry != 0) {
        detail = format_text(f.tx(TextId::RetryingConnection),
                             {std::to_string(retry), std::to_string(kDownloadRetries)});
    } else if (total == 0 && done == 0) {
        detail = str(f.tx(TextId::Connecting));
    } else {
        detail = format_text(f.tx(TextId::AmountOfTotal), {format_size(done), format_size(total)});
        if (s.download.rate.has_value) detail += " · " + format_speed(f.t, s.download.rate.rate);
    }
    f.label(detail, Rect{kInner, kLine2, kInnerWidth, 18}, kSmall, {Slot::Text2, 1});
    f.text_node(A11yText::ImageDetail, detail, Rect{kInner, kLine2, kInnerWidth, 18});
    std::string_view cancel = f.tx(TextId::Cancel);
    float cw = f.button_width(cancel);
    const Rect bar{kInner, 252, 508 - cw - 16 - kInner, 6};
    f.progress_node(A11yText::DownloadBar, title, bar,
                    total > 0
                        ? std::optional<double>(100.0 * static_cast<double>(std::min(done, total)) /
                                                static_cast<double>(total))
                        : std::nullopt);
    if (total > 0) {
        f.bar(Rect{kInner, 252, 508 - cw - 16 - kInner, 6},
              static_cast<float>(static_cast<double>(std::min(done, total)) /
                                 static_cast<double>(total)));
    } else {
        f.indeterminate_bar(Rect{kInner, 252, 508 - cw - 16 - kInner, 6});
    }
    f.button({UiAction::StopDownload}, cancel, Rect{508 - cw, kButtonRowTop, cw, 34},
             ButtonKind::Secondary);
}

void validation_status(Frame& f) {
    const WindowState& s = f.s;
    f.label(f.tx(TextId::CheckingImage), Rect{kInner, kLine1, kInnerWidth, 22}, kValue,
            {Slot::Text, 1});
    f.text_node(A11yText::ImageLine, f.tx(TextId::CheckingImage),
                Rect{kInner, kLine1, kInnerWidth, 22});
    const ValidationProgress& p = *s.image.progress;
    uint64_t done = p.done.load(), total = p.total.load();
    // One line under the title: the content check's progress once it
    // runs, the file until then.
    if (total > 0) {
        uint64_t percent = std::min<uint64_t>(done, total) * 100 / total;
        std::string line =
            format_text(f.tx(TextId::VerifyingImagePercent), {std::to_string(percent)});
        f.label(line, Rect{kInner, kLine2, kInnerWidth, 18}, kSmall, {Slot::Text2, 1});
        f.text_node(A11yText::ImageDetail, line, Rect{kInner, kLine2, kInnerWidth, 18});
    } else if (s.image.chosen) {
        f.label(s.image.chosen->path, Rect{kInner, kLine2, kInnerWidth, 18}, kSmall,
                {Slot::Text3, 1});
        f.text_node(A11yText::ImageDetail, s.image.chosen->path,
                    Rect{kInner, kLine2, kInnerWidth, 18});
    }
    pick_buttons(f);
}

void accepted_image(Frame& f) {
    const ImageInspection& in = *f.s.image.chosen->inspection;
    bool is_signed = in.is_signed();
    std::string_view verdict = f.tx(is_signed ? TextId::OfficialImage : TextId::UnverifiedImage);
    float verdict_x =
        f.badge(verdict, kRight - 20, kImageCardTop + 12, is_signed ? Slot::Green : Slot::Amber,
                is_signed ? Slot::GreenTint : Slot::AmberTint);
    f.text_node(A11yText::ImageVerdict, verdict,
                Rect{verdict_x, kImageCardTop + 12, kRight - 20 - verdict_x, 22});
    const std::string name = format_text(f.tx(TextId::ImageName), {in.version_text()});
    f.label(name, Rect{kInner, kLine1, kInnerWidth, 22}, kValue, {Slot::Text, 1});
    f.text_node(A11yText::ImageLine, name, Rect{kInner, kLine1, kInnerWidth, 22});
    std::string detail =
        format_text(f.tx(TextId::ImageDetails), {channel_label(f, in), format_size(in.image_size)});
    if (in.build)
        detail =
            format_text("{} · {}", {detail, format_text(f.tx(TextId::BuildNumber), {*in.build})});
    f.label(detail, Rect{kInner, kLine2, kInnerWidth, 18}, kSmall, {Slot::Text2, 1});
    f.text_node(A11yText::ImageDetail, detail, Rect{kInner, kLine2, kInnerWidth, 18});
    pick_buttons(f);
    auto [warning, warning_h] = unsigned_warning(f);
    if (!warning.empty()) {
        Rect w{kInner, kButtonRowTop + 34 + 12, kInnerWidth, warning_h + 8};
        f.c.fill_rounded(f.moved(w), 6, {Slot::AmberTint, 1});
        f.paragraph(warning, kInner + 10, w.y + 4, kInnerWidth - 20, kSmall, {Slot::Amber, 1},
                    Align::Start, 2);
        f.text_node(A11yText::UnsignedWarning, warning, w);
    }
}

void no_image(Frame& f) {
    const WindowState& s = f.s;
    std::string_view head = f.tx(TextId::NoImageSelected);
    std::string hint = str(f.tx(TextId::NoImageHint));
    Slot hint_slot = Slot::Text2;
    if (s.download.error) {
        FailureTextIds ids = download_failure_text_ids(s.download.error->kind);
        head = f.tx(ids.title);
        hint = str(f.tx(ids.advice));
        hint_slot = Slot::Red;
    } else if (s.image.refused) {
        hint = verdict_message(f.t, *s.image.refused).text;
        hint_slot = Slot::Red;
    }
    f.label(head, Rect{kInner, kLine1, kInnerWidth, 22}, kValue, {Slot::Text, 1});
    f.label(hint, Rect{kInner, kLine2, kInnerWidth, 18}, kSmall, {hint_slot, 1});
    f.text_node(A11yText::ImageLine, head, Rect{kInner, kLine1, kInnerWidth, 22});
    f.text_node(A11yText::ImageDetail, hint, Rect{kInner, kLine2, kInnerWidth, 18});
    pick_buttons(f);
}

void image_card(Frame& f, float height) {
    const WindowState& s = f.s;
    f.card(Rect{kLeft, kImageCardTop, kWidth, height});
    f.group(f.plain_node(A11yText::ImageCard, A11yRole::Group, f.tx(TextId::ImageCardTitle)),
            Rect{kLeft, kImageCardTop, kWidth, height});
    f.label(f.tx(TextId::ImageCardTitle), Rect{kInner, kImageCardTop + 14, 250, 18}, kCaption,
            {Slot::Text2, 1});
    if (s.phase == AppPhase::Downloading) {
        download_status(f);
    } else if (s.phase == AppPhase::ImageSelected || s.phase == AppPhase::ValidatingImage) {
        validation_status(f);
    } else if (image_accepted(s)) {
        accepted_image(f);
    } else {
        no_image(f);
    }
    f.end_group();
}

float drive_card_height(const WindowState& s) {
    size_t rows = listed_drives(s).size();
    float body = rows == 0 ? 72 : static_cast<float>(rows) * (kDriveRowHeight + 4) + 4;
    return 50 + body + 8;
}

// The drive card's title row: its name, its status word, "Restore drive"
// and "Check drive".
void drive_card_title(Frame& f, float top, bool any, bool ready) {
    std::string_view check = f.tx(TextId::CheckDrive);
    float cw = f.button_width(check) - 16;
    Rect check_r{kRight - 14 - cw, top + 10, cw, 30};
    std::string_view restore = f.tx(TextId::RestoreDrive);
    float rw = f.button_width(restore) - 16;
    Rect restore_r{check_r.x - 8 - rw, top + 10, rw, 30};
    std::string_view title = f.tx(TextId::DriveCardTitle);
    float tw = std::min(std::ceil(f.c.measure(title, kCaption, 1000).w) + 1, 160.0f);
    f.label(title, Rect{kInner, top + 16, tw, 18}, kCaption, {Slot::Text2, 1});
    if (any) {
        std::string_view word = f.tx(ready ? TextId::DriveReady : TextId::ChooseDrive);
        float room = restore_r.x - 12 - (kInner + tw + 10);
        float ww = std::min(std::ceil(f.c.measure(word, kCaption, 1000).w) + 18, room);
        Rect pill{kInner + tw + 10, top + 14, ww, 22};
        f.c.fill_rounded(f.moved(pill), 11, {ready ? Slot::GreenTint : Slot::Surface3, 1});
        f.label(word, Rect{pill.x + 9, pill.y, pill.w - 18, pill.h}, kCaption,
                {ready ? Slot::Green : Slot::Text2, 1}, Align::Center);
        f.text_node(A11yText::DriveStatus, word, pill);
    }
    f.button({UiAction::RestoreDrive}, restore, restore_r, ButtonKind::Secondary, kSmall);
    f.button({UiAction::CheckDrive}, check, check_r, ButtonKind::Secondary, kSmall);
}

// One drive: a radio mark if it may be chosen, a lock and the reason if not.
void drive_row(Frame& f, const DeviceInfo& drive, const std::vector<Refusal>& refusals,
               bool is_chosen, float y) {
    const float row_h = kDriveRowHeight;
    Rect row{kLeft + 8, y, kWidth - 16, row_h};
    const bool offered = refusals.empty();
    ElementId id{UiAction::SelectDrive, drive.number};
    Rect m = f.moved(row);
    if (is_chosen) {
        f.c.fill_rounded(m, 8, {Slot::AccentTint, 1});
        f.c.stroke_rounded(m, 8, {Slot::Accent, 1}, 1.5f);
    } else if (offered) {
        float hv = f.hover(id);
        if (hv > 0) f.c.fill_rounded(m, 8, {Slot::Surface2, hv});
    }
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
        f.label(status, Rect{pill.x + 9, pill.y, pill.w - 18, pill.h}, kCaption, {Slot::Amber, 1},
                Align::Center);
    }
    float text_w = row.right() - 12 - (status_w > 0 ? status_w + 10 : 0) - tx;
    // Named by all it shows: the drive, its detail line and why it is refused.
    A11yNode n =
        f.element_node(id, A11yRole::RadioButton,
                       f.joined({drive_label(drive), drive_row_detail(f.t, drive),
                                 offered ? std::string() : drive_row_status(f.t, refusals)}));
    n.selected = is_chosen;
    n.enabled = n.enabled && offered;
    n.focusable = n.enabled;
    f.node(std::move(n), row);
    Paint name_paint{offered ? Slot::Text : Slot::Text2, 1};
    f.label(drive_label(drive), Rect{tx, row.y + 9, text_w, 20}, kBodyStrong, name_paint);
    f.label(drive_row_detail(f.t, drive), Rect{tx, row.y + 30, text_w, 18}, kSmall,
            {offered ? Slot::Text2 : Slot::Text3, 1});
    if (offered) {
        if (f.focused(id)) f.focus_ring(row, 8);
        f.region(id, row);
    }
}

void drive_card(Frame& f, float top, float height) {
    auto rows = listed_drives(f.s);
    const DeviceInfo* chosen = selected_drive(f.s);
    f.card(Rect{kLeft, top, kWidth, height});
    f.group(f.plain_node(A11yText::DriveCard, A11yRole::Group, f.tx(TextId::DriveCardTitle)),
            Rect{kLeft, top, kWidth, height});
    drive_card_title(f, top, !rows.empty(), chosen != nullptr);
    float y = top + 50;
    if (rows.empty()) {
        f.c.fill_rounded(f.moved(Rect{kInner, y, kInnerWidth, 64}), 8, {Slot::Surface2, 1});
        f.label(f.tx(TextId::InsertDrive), Rect{kInner + 16, y + 12, kInnerWidth - 32, 20},
                kBodyStrong, {Slot::Text, 1});
        f.label(f.tx(TextId::InsertDriveHint), Rect{kInner + 16, y + 34, kInnerWidth - 32, 18},
                kSmall, {Slot::Text2, 1});
        f.text_node(A11yText::InsertDrive, f.tx(TextId::InsertDrive),
                    Rect{kInner + 16, y + 12, kInnerWidth - 32, 20});
        f.text_node(A11yText::InsertDriveHint, f.tx(TextId::InsertDriveHint),
                    Rect{kInner + 16, y + 34, kInnerWidth - 32, 18});
        f.end_group();
        return;
    }
    f.group(
        f.plain_node(A11yText::DriveList, A11yRole::List, f.tx(TextId::DriveCardTitle)),
        Rect{kLeft + 8, y, kWidth - 16, static_cast<float>(rows.size()) * (kDriveRowHeight + 4)});
    for (auto& [drive, refusals] : rows) {
        drive_row(f, *drive, refusals, chosen == drive, y);
        y += kDriveRowHeight + 4;
    }
    f.end_group();
    f.end_group();
}

void verify_row(Frame& f, float top) {
    ElementId id{UiAction::ToggleVerify};
    Rect row{40, top, 480, 50};
    bool enabled = action_enabled(f.s, id);
    float dim = enabled ? 1.0f : f.s.appearance.palette.opacity;
    // High contrast dims nothing: disabled texts take the grey text colour.
    const bool grey = !enabled && f.s.appearance.palette.high_contrast;
    float hv = enabled ? f.hover(id) : 0;
    if (hv > 0) f.c.fill_rounded(f.moved(row), 8, {Slot::Surface3, hv * 0.6f});
    float sw_w = 40, sw_h = 22;
    float sx = row.right() - 12 - sw_w, sy = top + (50 - sw_h) / 2;
    f.label(f.tx(TextId::VerifyAfterWriting), Rect{row.x + 12, top + 6, sx - 12 - row.x - 12, 20},
            kBodyStrong, {grey ? Slot::Text3 : Slot::Text, dim});
    f.label(f.tx(TextId::VerifyDescription), Rect{row.x + 12, top + 27, sx - 12 - row.x - 12, 18},
            kSmall, {grey ? Slot::Text3 : Slot::Text2, dim});
    // The switch: the knob slides with the switch animation.
    float on = f.s.animations.switch_anim.duration > 0
                   ? f.s.animations.switch_anim.value(f.now)
                   : (f.s.appearance.prefs.verify ? 1.0f : 0.0f);
    Rect track = f.moved(Rect{sx, sy, sw_w, sw_h});
    f.c.fill_rounded(track, sw_h / 2, {Slot::StrongLine, dim});
    if (on > 0) f.c.fill_rounded(track, sw_h / 2, {Slot::Accent, dim * on});
    float knob_x = sx + 11 + on * (sw_w - 22);
    f.c.fill_ellipse(knob_x, sy + sw_h / 2 - f.scroll, 8, 8, {Slot::OnAccent, dim});
    if (f.focused(id)) f.focus_ring(row, 8);
    f.region(id, row);
    A11yNode n = f.element_node(id, A11yRole::Toggle, f.tx(TextId::VerifyAfterWriting));
    n.help = str(f.tx(TextId::VerifyDescription));
    f.node(std::move(n), row);
}

}  // namespace

void setup_screen(Frame& f) {
    const Rect view{0, kContentTop, kClientWidth, kSetupViewBottom - kContentTop};
    // The content laid out once: the cards, the verify row and a margin under it.
    Column content;
    content.add(image_card_height(f), [&](float) { image_card(f, image_card_height(f)); });
    content.gap(14);
    const float drives_h = drive_card_height(f.s);
    content.add(drives_h, [&](float y) { drive_card(f, y, drives_h); });
    content.gap(10);
    content.add(50, [&](float y) { verify_row(f, y); });
    content.gap(8);
    const float limit = std::max(0.0f, kImageCardTop + content.height() - view.bottom());
    f.s.geometry.viewport = view;
    f.s.geometry.scroll_limit = limit;
    f.scroll = std::clamp(f.s.geometry.scroll, 0.0f, limit);
    const Rect outside = f.visible;
    f.visible = view;
    f.c.push_clip(view);
    f.label(f.tx(TextId::SetupTitle), Rect{kLeft, 80, kWidth, 34}, kTitle, {Slot::Text, 1});
    f.label(f.tx(TextId::SetupSubtitle), Rect{kLeft, 116, kWidth, 22}, kBody, {Slot::Text2, 1});
    f.text_node(A11yText::SetupTitle, f.tx(TextId::SetupTitle), Rect{kLeft, 80, kWidth, 34});
    f.text_node(A11yText::SetupSubtitle, f.tx(TextId::SetupSubtitle), Rect{kLeft, 116, kWidth, 22});
    content.draw(kImageCardTop);
    f.c.pop_clip();
    if (limit > 0) scroll_indicator(f, view, limit);
    f.visible = outside;
    f.scroll = 0;
    f.button({UiAction::Create}, f.tx(TextId::CreateBootableUsb), kMainButton, ButtonKind::Primary,
             kMainLabel);
}

}  // namespace sw::view
