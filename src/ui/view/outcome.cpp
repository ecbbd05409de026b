#include <algorithm>
#include <cmath>

#include "core/text.h"
#include "format/format.h"
#include "i18n/format.h"
#include "i18n/messages.h"
#include "ui/view/parts.h"

namespace sw::view {

namespace {

// "128 KiB", "59.6 GiB": sizes as a file system's properties give them.
std::string binary_size(uint64_t bytes) {
    constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes);
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(kUnits)) {
        value /= 1024;
        ++unit;
    }
    if (unit == 0 || std::fabs(value - std::round(value)) < 0.05)
        return fmt("{} {}", static_cast<uint64_t>(std::round(value)), kUnits[unit]);
    return fmt("{} {}", fixed(value, 1), kUnits[unit]);
}

// The summary card's lines: what the write or restore did, and what now.
std::vector<std::pair<std::string, Slot>> summary_lines(Frame& f) {
    const WindowState& s = f.s;
    std::vector<std::pair<std::string, Slot>> lines;
    if (s.write.restore) {
        if (const auto& r = s.write.restored) {
            std::string holds = format_text(f.tx(TextId::RestoreSummary),
                                            {format::name(r->fs), binary_size(r->cluster_bytes),
                                             binary_size(r->capacity_bytes)});
            lines.push_back({format_text(f.tx(TextId::RestoreHolds), {holds}), Slot::Green});
        }
        lines.push_back(
            {str(f.tx(s.write.eject == EjectState::Ejected ? TextId::SafeToRemove
                                                           : TextId::RestoreUseOrRemove)),
             Slot::Text});
        return lines;
    }
    bool verified = s.write.summary && s.write.summary->verify_seconds.has_value();
    lines.push_back({str(f.tx(verified ? TextId::IntegrityVerified : TextId::VerificationSkipped)),
                     verified ? Slot::Green : Slot::Text2});
    if (s.write.summary) {
        double size = static_cast<double>(s.write.summary->image_size);
        std::string w = format_speed(f.t, size / std::max(s.write.summary->write_seconds, 0.001));
        if (verified) {
            std::string v =
                format_speed(f.t, size / std::max(*s.write.summary->verify_seconds, 0.001));
            lines.push_back({format_text(f.tx(TextId::WrittenAndVerifiedAt), {w, v}), Slot::Text2});
        } else {
            lines.push_back({format_text(f.tx(TextId::WrittenAt), {w}), Slot::Text2});
        }
    }
    lines.push_back(
        {str(f.tx(s.write.eject == EjectState::Ejected ? TextId::SafeToRemove : TextId::UsbReady)),
         Slot::Text});
    return lines;
}

}  // namespace

void complete_screen(Frame& f) {
    const WindowState& s = f.s;
    // The mark grows in over the first moments of the screen.
    float grow = 1;
    if (s.write.complete_at)
        grow = std::clamp(static_cast<float>((f.now - *s.write.complete_at) / 0.4), 0.0f, 1.0f);
    f.status_circle(280, 150, 22 + 10 * grow, Slot::Green, Slot::GreenTint, "✓");
    const std::string_view title =
        f.tx(s.write.restore ? TextId::RestoreCompleteTitle : TextId::CompleteTitle);
    const std::string_view done =
        f.tx(s.write.restore ? TextId::RestoredForEverydayUse : TextId::MediaCreated);
    f.label(title, Rect{kLeft, 212, kWidth, 34}, kTitle, {Slot::Text, 1}, Align::Center);
    f.label(done, Rect{kLeft, 250, kWidth, 22}, kBody, {Slot::Green, 1}, Align::Center);
    f.text_node(A11yText::OutcomeTitle, title, Rect{kLeft, 212, kWidth, 34});
    f.text_node(A11yText::OutcomeText, done, Rect{kLeft, 250, kWidth, 22});
    const float top = 296, inner = kLeft + 20, inner_w = kWidth - 40;
    float y = top + 18;
    const std::vector<std::pair<std::string, Slot>> lines = summary_lines(f);
    float h = 0;
    for (auto& [line, slot] : lines)
        h += std::ceil(f.c.measure(f.fit(line, kBody, inner_w, 2), kBody, inner_w).h) + 8;
    std::string eject_failed;
    float eh = 0;
    if (s.write.eject == EjectState::Failed) {
        eject_failed = f.fit(f.tx(TextId::EjectFailed), kSmall, inner_w - 24, 4);
        eh = std::ceil(f.c.measure(eject_failed, kSmall, inner_w - 24).h) + 20;
    }
    f.card(Rect{kLeft, top, kWidth, 18 + h + eh + 10});
    f.group(f.plain_node(A11yText::SummaryCard, A11yRole::Group, title),
            Rect{kLeft, top, kWidth, 18 + h + eh + 10});
    uint32_t index = 0;
    for (auto& [line, slot] : lines) {
        float lh = f.paragraph(line, inner, y, inner_w, kBody, {slot, 1}, Align::Start, 2);
        f.text_node(A11yText::SummaryLines, line, Rect{inner, y, inner_w, lh}, A11yRole::Text, {},
                    index++);
        y += lh + 8;
    }
    if (!eject_failed.empty()) {
        f.c.fill_rounded(f.moved(Rect{inner, y, inner_w, eh - 8}), 6, {Slot::AmberTint, 1});
        f.paragraph(eject_failed, inner + 12, y + 6, inner_w - 24, kSmall, {Slot::Amber, 1},
                    Align::Start, 4);
        f.text_node(A11yText::EjectFailed, f.tx(TextId::EjectFailed),
                    Rect{inner, y, inner_w, eh - 8});
    }
    f.end_group();
    if (s.write.eject == EjectState::NotStarted || s.write.eject == EjectState::Running) {
        std::string_view label = f.tx(
            s.write.eject == EjectState::Running ? TextId::EjectingEllipsis : TextId::EjectDrive);
        f.button({UiAction::Eject}, label, Rect{kLeft, 560, kWidth, 44}, ButtonKind::Secondary);
    }
    f.button({UiAction::Done}, f.tx(TextId::Done), Rect{kLeft, 616, kWidth, 48},
             ButtonKind::Primary, kMainLabel);
}

void cancelled_screen(Frame& f) {
    const bool restore = f.s.write.restore;
    const std::string_view title =
        f.tx(restore ? TextId::RestoreCancelledTitle : TextId::CancelledTitle);
    const std::string_view advice =
        f.tx(restore ? TextId::RestoreCancelledAdvice : TextId::CancelledAdvice);
    f.status_circle(280, 150, 30, Slot::Amber, Slot::AmberTint, "!");
    f.label(title, Rect{kLeft, 212, kWidth, 34}, kTitle, {Slot::Text, 1}, Align::Center);
    float advice_h = f.paragraph(advice, kLeft + 24, 254, kWidth - 48, kBody, {Slot::Text2, 1},
                                 Align::Center, 3);
    f.text_node(A11yText::OutcomeTitle, title, Rect{kLeft, 212, kWidth, 34});
    f.text_node(A11yText::OutcomeText, advice, Rect{kLeft + 24, 254, kWidth - 48, advice_h});
    f.button({UiAction::Done}, f.tx(TextId::Done), Rect{kLeft, 616, kWidth, 48},
             ButtonKind::Primary, kMainLabel);
}

void failed_screen(Frame& f) {
    const WindowState& s = f.s;
    f.status_circle(280, 140, 30, Slot::Red, Slot::RedTint, "×");
    FailureMessage msg = failure_message(s);
    float y = 200;
    const float title_h =
        f.paragraph(msg.title, kLeft, y, kWidth, TextStyle{20, 3, FontFamily::Display},
                    {Slot::Text, 1}, Align::Center, 2);
    // The advice under the title is read as the title's description.
    f.text_node(A11yText::OutcomeTitle, msg.title, Rect{kLeft, y, kWidth, title_h}, A11yRole::Text,
                msg.advice);
    y += title_h + 8;
    y += f.paragraph(msg.advice, kLeft + 16, y, kWidth - 32, kBody, {Slot::Text2, 1}, Align::Center,
                     3) +
         20;
    // The row of detail buttons, centred.
    std::string_view toggle =
        f.tx(s.write.details_expanded ? TextId::HideDetails : TextId::ShowDetails);
    bool copied = s.write.copied_at && f.now - *s.write.copied_at < 1.6;
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
    if (s.write.details_expanded) {
        float box_h = std::min(600.0f - y, 150.0f);
        Rect box{kLeft, y, kWidth, box_h};
        f.c.fill_rounded(f.moved(box), 8, {Slot::Surface3, 1});
        int lines = std::max(1, static_cast<int>((box_h - 24) / (kMono.size * 1.34f)));
        f.paragraph(msg.details, kLeft + 14, y + 12, kWidth - 28, kMono, {Slot::Text, 1},
                    Align::Start, lines);
        f.text_node(A11yText::FailureDetails, msg.details, box);
    }
    const float half = (kWidth - 8) / 2;
    f.button({UiAction::TryAgain}, f.tx(TextId::TryAgain), Rect{kLeft, 616, half, 48},
             ButtonKind::Secondary, kMainLabel);
    f.button({UiAction::Done}, f.tx(TextId::Done), Rect{kLeft + half + 8, 616, half, 48},
             ButtonKind::Primary, kMainLabel);
}

}  // namespace sw::view
