#include "ui/scripted/recording_canvas.h"

#include <algorithm>
#include <cmath>

#include "core/text.h"

namespace sw {

namespace {

// The code points of a UTF-8 text (invalid bytes count as one character).
std::vector<uint32_t> code_points(std::string_view s) {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < s.size();) {
        auto b = static_cast<unsigned char>(s[i]);
        uint32_t cp = b;
        size_t n = 1;
        if (b >= 0xF0) {
            n = 4;
            cp = b & 0x07;
        } else if (b >= 0xE0) {
            n = 3;
            cp = b & 0x0F;
        } else if (b >= 0xC0) {
            n = 2;
            cp = b & 0x1F;
        }
        if (i + n > s.size()) n = 1;
        for (size_t k = 1; k < n; ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        out.push_back(cp);
        i += n;
    }
    return out;
}

bool is_wide(uint32_t cp) {
    return (cp >= 0x2E80 && cp <= 0x9FFF) || (cp >= 0xF900 && cp <= 0xFAFF) ||
           (cp >= 0xFF00 && cp <= 0xFFEF) || (cp >= 0x3000 && cp <= 0x303F);
}

float advance(uint32_t cp, const TextStyle& style) {
    if (style.family == FontFamily::Mono) return is_wide(cp) ? 1.0f : 0.6f;
    if (is_wide(cp)) return 1.0f;
    if (cp == ' ') return 0.28f;
    if (cp < 0x80 &&
        std::string_view("il.,:;'|!()[]/").find(static_cast<char>(cp)) != std::string_view::npos)
        return 0.3f;
    if (cp >= 'A' && cp <= 'Z') return 0.64f;
    if (cp >= '0' && cp <= '9') return 0.55f;
    if (cp == 0x2026 || cp == 0x2014) return 0.9f;  // … —
    return 0.54f;
}

void append_float(std::string& out, float v) {
    out += shortest_float(std::round(static_cast<double>(v) * 100.0) / 100.0);
}

}  // namespace

std::string_view op_name(DrawOp::Kind kind) {
    switch (kind) {
        case DrawOp::FillRect:
            return "fill_rect";
        case DrawOp::FillRounded:
            return "fill_rounded";
        case DrawOp::StrokeRounded:
            return "stroke_rounded";
        case DrawOp::Line:
            return "line";
        case DrawOp::FillEllipse:
            return "fill_ellipse";
        case DrawOp::StrokeEllipse:
            return "stroke_ellipse";
        case DrawOp::Text:
            return "text";
        case DrawOp::Icon:
            return "icon";
        case DrawOp::PushClip:
            return "push_clip";
        case DrawOp::PopClip:
            return "pop_clip";
    }
    return "?";
}

float RecordingCanvas::snap(float dip) const {
    float scale = static_cast<float>(dpi_) / 96.0f;
    return std::ceil(dip * scale - 0.001f) / scale;
}

float RecordingCanvas::width_of(std::string_view utf8, const TextStyle& style) const {
    float w = 0;
    for (uint32_t cp : code_points(utf8))
        w += advance(cp, style);
    float bold = style.weight >= 3 ? 1.05f : 1.0f;
    return w * style.size * bold;
}

TextExtent RecordingCanvas::measure(std::string_view utf8, const TextStyle& style,
                                    float max_width) {
    // Greedy wrapping at blanks, or between any two wide characters.
    const float line_h = style.size * 1.33f;
    std::vector<std::string> words;
    std::string current;
    for (uint32_t cp : code_points(utf8)) {
        std::string ch;
        append_utf8(ch, cp);
        if (cp == ' ') {
            current += ch;
            words.push_back(current);
            current.clear();
        } else if (is_wide(cp)) {
            if (!current.empty()) words.push_back(current);
            words.push_back(ch);
            current.clear();
        } else {
            current += ch;
        }
    }
    if (!current.empty()) words.push_back(current);
    float widest = 0;
    float line = 0;
    int lines = words.empty() ? 1 : 0;
    for (const auto& word : words) {
        std::string_view trimmed = word;
        while (!trimmed.empty() && trimmed.back() == ' ')
            trimmed.remove_suffix(1);
        float ww = width_of(trimmed, style);
        float wfull = width_of(word, style);
        if (lines == 0) {
            lines = 1;
            line = 0;
        } else if (line > 0 && line + ww > max_width) {
            ++lines;
            line = 0;
        }
        widest = std::max(widest, line + ww);
        line += wfull;
    }
    return TextExtent{snap(widest), snap(static_cast<float>(lines) * line_h)};
}

std::string frame_json(const std::vector<DrawOp>& ops, const std::vector<HitRegion>& regions) {
    auto rect_fields = [](std::string& out, const Rect& r) {
        out += "\"x\":";
        append_float(out, r.x);
        out += ",\"y\":";
        append_float(out, r.y);
        out += ",\"w\":";
        append_float(out, r.w);
        out += ",\"h\":";
        append_float(out, r.h);
    };
    std::string out = "{\"ops\":[";
    for (size_t i = 0; i < ops.size(); ++i) {
        const DrawOp& op = ops[i];
        if (i) out += ',';
        out += "{\"op\":";
        out += json_quoted(op_name(op.kind));
        out += ',';
        rect_fields(out, op.rect);
        if (op.kind != DrawOp::PushClip && op.kind != DrawOp::PopClip) {
            out += ",\"slot\":" + std::to_string(static_cast<int>(op.paint.slot));
            out += ",\"opacity\":";
            append_float(out, op.paint.opacity);
        }
        if (op.radius > 0) {
            out += ",\"radius\":";
            append_float(out, op.radius);
        }
        if (op.width > 0) {
            out += ",\"stroke\":";
            append_float(out, op.width);
        }
        if (op.kind == DrawOp::Text) {
            out += ",\"text\":" + json_quoted(op.text);
            out += ",\"size\":";
            append_float(out, op.style.size);
            out += ",\"weight\":" + std::to_string(300 + 100 * op.style.weight);
            out += ",\"family\":" + std::to_string(static_cast<int>(op.style.family));
            out += ",\"align\":" + std::to_string(static_cast<int>(op.horizontal));
            out += ",\"valign\":" + std::to_string(static_cast<int>(op.vertical));
        }
        out += '}';
    }
    out += "],\"regions\":[";
    for (size_t i = 0; i < regions.size(); ++i) {
        const HitRegion& r = regions[i];
        if (i) out += ',';
        out += "{\"action\":" + json_quoted(action_name(r.id.kind));
        out += ",\"kind\":" + std::to_string(static_cast<int>(r.id.kind));
        out += ",\"param\":" + std::to_string(r.id.param);
        out += ',';
        rect_fields(out, r.rect);
        out += std::string(",\"enabled\":") + (r.enabled ? "true" : "false") + '}';
    }
    out += "]}";
    return out;
}

std::string_view a11y_role_name(A11yRole role) {
    switch (role) {
        case A11yRole::Group:
            return "group";
        case A11yRole::Dialog:
            return "dialog";
        case A11yRole::Button:
            return "button";
        case A11yRole::RadioButton:
            return "radio";
        case A11yRole::Toggle:
            return "toggle";
        case A11yRole::ProgressBar:
            return "progressbar";
        case A11yRole::Text:
            return "text";
        case A11yRole::Status:
            return "status";
        case A11yRole::List:
            return "list";
    }
    return "?";
}

std::string a11y_json(const A11yTree& tree) {
    auto flag = [](std::string& out, const char* key, bool v) {
        out += std::string(",\"") + key + "\":" + (v ? "true" : "false");
    };
    std::string out = std::string("{\"modal\":") + (tree.modal ? "true" : "false");
    out += ",\"nodes\":[";
    for (size_t i = 0; i < tree.nodes.size(); ++i) {
        const A11yNode& n = tree.nodes[i];
        out += i ? ",\n" : "\n";
        out += "{\"index\":" + std::to_string(i);
        out += ",\"id\":" + std::to_string(n.id);
        out += ",\"role\":" + json_quoted(a11y_role_name(n.role));
        out += ",\"name\":" + json_quoted(n.name);
        if (!n.help.empty()) out += ",\"help\":" + json_quoted(n.help);
        out += ",\"parent\":" + std::to_string(n.parent);
        out += ",\"bounds\":[";
        append_float(out, n.bounds.x);
        out += ',';
        append_float(out, n.bounds.y);
        out += ',';
        append_float(out, n.bounds.w);
        out += ',';
        append_float(out, n.bounds.h);
        out += ']';
        if (!n.action.is_none()) {
            out += ",\"action\":" + json_quoted(action_name(n.action.kind));
            out += ",\"param\":" + std::to_string(n.action.param);
        }
        flag(out, "enabled", n.enabled);
        flag(out, "focusable", n.focusable);
        flag(out, "focused", n.focused);
        if (n.role == A11yRole::RadioButton) flag(out, "selected", n.selected);
        if (n.toggled) flag(out, "toggled", *n.toggled);
        if (n.expanded) flag(out, "expanded", *n.expanded);
        if (n.value) {
            out += ",\"value\":";
            append_float(out, static_cast<float>(*n.value));
        }
        out += '}';
    }
    out += "\n]}";
    return out;
}

}  // namespace sw
