#include "ui/announcements.h"

#include <algorithm>
#include <cmath>

#include "i18n/format.h"
#include "i18n/messages.h"
#include "ui/view.h"

namespace sw {

namespace {

void verdict(const WindowState& s, const StringTable& t, Announced& said,
             std::vector<std::string>& out) {
    int now = 0;
    std::string text;
    if (s.image.chosen && s.image.chosen->accepted && s.image.chosen->inspection) {
        bool is_signed = s.image.chosen->inspection->is_signed();
        now = is_signed ? 1 : 2;
        text =
            std::string(sw::text(t, is_signed ? TextId::OfficialImage : TextId::UnverifiedImage));
    } else if (s.image.refused && !s.image.chosen) {
        now = 3;
        text = verdict_message(t, *s.image.refused).text;
    }
    if (now == 0) {
        said.verdict = 0;
        return;
    }
    if (now == said.verdict && s.image.request == said.verdict_request) return;
    said.verdict = now;
    said.verdict_request = s.image.request;
    out.push_back(std::move(text));
}

bool same_drive(const DeviceInfo& a, const DeviceInfo& b) {
    return a.instance_id == b.instance_id && a.serial == b.serial && a.number == b.number;
}

void drives(const WindowState& s, const StringTable& t, Announced& said,
            std::vector<std::string>& out) {
    if (!s.drives.scanned) return;
    const std::vector<DeviceInfo>& now = s.drives.list;
    if (said.drives) {
        auto in = [](const std::vector<DeviceInfo>& list, const DeviceInfo& d) {
            return std::any_of(list.begin(), list.end(),
                               [&](const DeviceInfo& e) { return same_drive(e, d); });
        };
        for (const DeviceInfo& d : *said.drives)
            if (!in(now, d))
                out.push_back(format_text(text(t, TextId::DriveRemoved), {drive_label(d)}));
        for (const DeviceInfo& d : now)
            if (!in(*said.drives, d))
                out.push_back(format_text(text(t, TextId::DriveConnected), {drive_label(d)}));
    }
    said.drives = now;
}

void write(const WindowState& s, const StringTable& t, Announced& said,
           std::vector<std::string>& out) {
    if (s.phase != said.phase) {
        if (s.phase == AppPhase::Preparing) said.tenths = 0;
        if (auto id = phase_heading(s)) {
            out.push_back(std::string(text(t, *id)));
        } else if (s.phase == AppPhase::Failed) {
            out.push_back(failure_message(s).title);
        }
        said.phase = s.phase;
    }
    // Each tenth once, as the progress bar passes it.
    if (s.phase == AppPhase::Writing || s.phase == AppPhase::Verifying) {
        int tenths = static_cast<int>(std::floor(write_fraction(s) * 10.0f));
        tenths = std::clamp(tenths, 0, 10);
        if (tenths > said.tenths) {
            said.tenths = tenths;
            out.push_back(
                format_text(text(t, TextId::PercentSpoken), {std::to_string(tenths * 10)}));
        }
    }
}

}  // namespace

std::vector<std::string> announcements(const WindowState& state, Announced& said) {
    const StringTable& t = string_table(language_from_value(state.appearance.prefs.lang));
    std::vector<std::string> out;
    verdict(state, t, said, out);
    drives(state, t, said, out);
    write(state, t, said, out);
    if (state.write.copied_at != said.copied_at) {
        if (state.write.copied_at) out.push_back(std::string(text(t, TextId::Copied)));
        said.copied_at = state.write.copied_at;
    }
    return out;
}

}  // namespace sw
