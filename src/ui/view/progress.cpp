#include <algorithm>
#include <cmath>

#include "core/text.h"
#include "i18n/format.h"
#include "i18n/messages.h"
#include "ui/view/parts.h"

namespace sw::view {

namespace {

void step_indicator(Frame& f, float top) {
    const WindowState& s = f.s;
    std::vector<TextId> names;
    int current = 0;
    AppPhase p = s.phase;
    if (s.write.verify) {
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
        f.text_node(A11yText::Steps, f.tx(names[i]), Rect{cx - cell / 2 + 4, top, cell - 8, 52},
                    A11yRole::Text, {}, static_cast<uint32_t>(i));
    }
}

std::string detail_line(Frame& f) {
    const WindowState& s = f.s;
    if (s.phase == AppPhase::Preparing) {
        static constexpr TextId kSteps[] = {
            TextId::PrepareChecking, TextId::PrepareWaitingForRelease, TextId::PrepareTakingOffline,
            TextId::PrepareOpening, TextId::PrepareClearing};
        auto step = static_cast<size_t>(s.write.shown_step);
        if (step > 4) step = 0;
        return format_text("{}…", {f.tx(kSteps[step])});
    }
    // A restore writes no files: its heading says all there is.
    if (!s.write.restore &&
        (s.write.shown_phase == WritePhase::Writing ||
         s.write.shown_phase == WritePhase::Verifying) &&
        s.write.shown_total > 0 && is_write_in_progress(s.phase)) {
        std::string where = str(f.tx(TextId::BootArea));
        if (s.image.chosen && s.image.chosen->inspection) {
            if (const ImageFile* file =
                    file_at_position(s.image.chosen->inspection->files, s.write.shown_done))
                where = file->path;
        }
        TextId id = s.write.shown_phase == WritePhase::Verifying ? TextId::VerifyingFile
                                                                 : TextId::WritingFile;
        return format_text(f.tx(id), {where});
    }
    return {};
}

}  // namespace

void progress_screen(Frame& f) {
    const WindowState& s = f.s;
    const std::string_view title =
        f.tx(s.write.restore ? TextId::RestoreProgressTitle : TextId::ProgressTitle);
    f.label(title, Rect{kLeft, 80, kWidth, 34}, kTitle, {Slot::Text, 1});
    f.text_node(A11yText::ProgressTitle, title, Rect{kLeft, 80, kWidth, 34});
    step_indicator(f, 136);
    const float top = 214;
    f.card(Rect{kLeft, top, kWidth, 262});
    const float inner = kLeft + 20, inner_w = kWidth - 40;
    const TextId sub = phase_heading(s).value_or(TextId::PhaseEjecting);
    float fraction = write_fraction(s);
    std::string percent = fmt("{}%", static_cast<int>(std::floor(fraction * 100)));
    float pw = std::ceil(f.c.measure(percent, kValue, 1000).w) + 2;
    f.label(f.tx(sub), Rect{inner, top + 20, inner_w - pw - 8, 24}, kHeading, {Slot::Text, 1});
    f.label(percent, Rect{kRight - 20 - pw, top + 20, pw, 24}, kValue, {Slot::Accent, 1},
            Align::End);
    const std::string live_line = detail_line(f);
    f.label(live_line, Rect{inner, top + 50, inner_w, 18}, kSmall, {Slot::Text2, 1});
    const bool unknown = s.phase == AppPhase::Preparing ||
                         (s.phase == AppPhase::Flushing && s.write.shown_total == 0);
    f.group(f.plain_node(A11yText::ProgressCard, A11yRole::Group, f.tx(sub)),
            Rect{kLeft, top, kWidth, 262});
    f.text_node(A11yText::Phase, f.tx(sub), Rect{inner, top + 20, inner_w, 24});
    f.text_node(A11yText::LiveLine, live_line, Rect{inner, top + 50, inner_w, 18},
                A11yRole::Status);
    f.progress_node(A11yText::ProgressBar, f.tx(sub), Rect{inner, top + 80, inner_w, 8},
                    unknown ? std::nullopt : std::optional<double>(std::floor(fraction * 100)));
    if (unknown) {
        f.indeterminate_bar(Rect{inner, top + 80, inner_w, 8});
    } else {
        f.bar(Rect{inner, top + 80, inner_w, 8}, fraction);
    }
    // Statistics, two by two.
    std::string written =
        s.write.progress_seen
            ? format_text(f.tx(TextId::AmountOfTotal),
                          {format_size(s.write.shown_done), format_size(s.write.shown_total)})
            : std::string("—");
    std::string speed = s.write.rate.has_value && s.write.rate.rate >= 50000
                            ? format_speed(f.t, s.write.rate.rate)
                            : std::string("—");
    std::string remaining = s.write.remaining.kind == Remaining::None ? std::string("—")
                            : s.write.remaining.kind == Remaining::Finishing
                                ? str(f.tx(TextId::FinishingEllipsis))
                                : format_duration(f.t, s.write.remaining.seconds);
    std::string elapsed = elapsed_text(f.now - s.write.started_at);
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
        f.text_node(A11yText::Stats, f.label_value(f.tx(stats[i].first), stats[i].second),
                    Rect{cx, cy, cell_w, 60}, A11yRole::Text, {}, static_cast<uint32_t>(i));
    }
    f.end_group();
    f.button({UiAction::StopWrite}, f.tx(TextId::Stop), kMainButton, ButtonKind::Secondary,
             kMainLabel);
}

}  // namespace sw::view
