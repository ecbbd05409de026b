#include "core/text.h"

#include <cmath>
#include <cstdio>

namespace sw {

namespace detail {

std::string fill_template(std::string_view tmpl, const std::vector<std::string>& args) {
    std::string out;
    out.reserve(tmpl.size() + 16 * args.size());
    size_t next = 0;
    for (size_t i = 0; i < tmpl.size(); ++i) {
        if (tmpl[i] == '{' && i + 1 < tmpl.size() && tmpl[i + 1] == '}' && next < args.size()) {
            out += args[next++];
            ++i;
        } else {
            out += tmpl[i];
        }
    }
    return out;
}

}  // namespace detail

std::string fixed(double value, int decimals) {
    char buf[64];
    int n = std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    if (n < 0) return "NaN";
    if (static_cast<size_t>(n) < sizeof buf) return std::string(buf, static_cast<size_t>(n));
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), "%.*f", decimals, value);
    big.resize(static_cast<size_t>(n));
    return big;
}

std::string shortest_float(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    std::string s(buf, res.ptr);
    if (s.find('.') == std::string::npos) s += ".0";
    return s;
}

std::string pad_right(std::string_view s, size_t width) {
    std::string out(s);
    if (out.size() < width) out.append(width - out.size(), ' ');
    return out;
}

std::string joined(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& item : items) {
        if (!out.empty()) out += ", ";
        out += item;
    }
    return out;
}

std::string pad_left(std::string_view s, size_t width) {
    std::string out;
    if (s.size() < width) out.append(width - s.size(), ' ');
    out += s;
    return out;
}

std::string debug_quoted(std::string_view s) {
    static const char digits[] = "0123456789abcdef";
    std::string out = "\"";
    for (char c : s) {
        auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (b < 0x20 || b == 0x7f) {
            out += "\\u{";
            if (b >= 0x10) out += digits[b >> 4];
            out += digits[b & 15];
            out += '}';
        } else {
            out += c;
        }
    }
    return out + '"';
}

std::string json_quoted(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (b < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", b);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + '"';
}

bool is_ascii_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_ascii_space(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && is_ascii_space(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string ascii_lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string ascii_upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool iequals_ascii(std::string_view a, std::string_view b) {
    return a.size() == b.size() && ascii_lower(a) == ascii_lower(b);
}

bool starts_with_ascii_ci(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && iequals_ascii(s.substr(0, prefix.size()), prefix);
}

std::string replace_all(std::string_view s, std::string_view from, std::string_view to) {
    std::string out;
    size_t i = 0;
    while (i < s.size()) {
        if (!from.empty() && s.substr(i, from.size()) == from) {
            out += to;
            i += from.size();
        } else {
            out += s[i++];
        }
    }
    return out;
}

std::optional<uint64_t> parse_u64_decimal(std::string_view s) {
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::optional<uint32_t> parse_u32_decimal(std::string_view s) {
    auto v = parse_u64_decimal(s);
    if (!v || *v > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(*v);
}

namespace {

// Length of the valid UTF-8 sequence starting at s[i], or 0 when the bytes
// there do not start one. For an invalid start, *bad is the length of the
// maximal prefix of a valid sequence (at least 1), which is replaced as one unit.
size_t utf8_sequence(std::string_view s, size_t i, size_t* bad) {
    auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = b(i);
    size_t n = s.size() - i;
    if (c < 0x80) return 1;
    size_t len;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        *bad = 1;
        return 0;
    }
    size_t k = 1;
    for (; k < len && k < n; ++k) {
        unsigned char x = b(i + k);
        unsigned char l = k == 1 ? lo : 0x80, h = k == 1 ? hi : 0xBF;
        if (x < l || x > h) break;
    }
    if (k == len) return len;
    *bad = k;
    return 0;
}

}  // namespace

void append_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        size_t bad = 0;
        size_t len = utf8_sequence(bytes, i, &bad);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

std::string utf8_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        size_t bad = 0;
        size_t len = utf8_sequence(bytes, i, &bad);
        if (len == 0) {
            out += kReplacement;
            i += bad;
        } else {
            out.append(bytes.substr(i, len));
            i += len;
        }
    }
    return out;
}

namespace {

uint32_t code_point_of(std::string_view seq) {
    auto b = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(seq[i])); };
    switch (seq.size()) {
        case 1:
            return b(0);
        case 2:
            return ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
        case 3:
            return ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
        default:
            return ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) |
                   (b(3) & 0x3F);
    }
}

bool hides_or_reorders(uint32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x061C || cp == 0x200E ||
           cp == 0x200F || cp == 0x2028 || cp == 0x2029 || (cp >= 0x202A && cp <= 0x202E) ||
           (cp >= 0x2066 && cp <= 0x2069);
}

void append_hex(std::string& out, std::string_view open, uint32_t value) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    do {
        hex.insert(hex.begin(), digits[value & 15]);
        value >>= 4;
    } while (value != 0);
    if (hex.size() < 2) hex.insert(hex.begin(), '0');
    out += open;
    out += hex;
    out += '}';
}

}  // namespace

std::string visible_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        size_t bad = 0;
        size_t len = utf8_sequence(text, i, &bad);
        if (len == 0) {
            for (size_t k = 0; k < bad; ++k)
                append_hex(out, "\\x{", static_cast<unsigned char>(text[i + k]));
            i += bad;
            continue;
        }
        std::string_view seq = text.substr(i, len);
        i += len;
        uint32_t cp = code_point_of(seq);
        if (cp == '\n') {
            out += "\\n";
        } else if (cp == '\r') {
            out += "\\r";
        } else if (cp == '\t') {
            out += "\\t";
        } else if (hides_or_reorders(cp)) {
            append_hex(out, "\\u{", cp);
        } else {
            out.append(seq);
        }
    }
    return out;
}

std::string utf16_to_utf8(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        uint32_t u = units[i];
        if (u == 0) break;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            uint32_t low = units[++i];
            append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            out += kReplacement;
        } else {
            append_utf8(out, u);
        }
    }
    return out;
}

std::u16string utf8_to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        size_t bad = 0;
        size_t len = utf8_sequence(text, i, &bad);
        if (len == 0) {
            out += u'\uFFFD';
            i += bad;
            continue;
        }
        auto b = [&](size_t k) {
            return static_cast<uint32_t>(static_cast<unsigned char>(text[i + k]));
        };
        uint32_t cp;
        if (len == 1)
            cp = b(0);
        else if (len == 2)
            cp = ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
        else if (len == 3)
            cp = ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
        else
            cp = ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) |
                 (b(3) & 0x3F);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += len;
    }
    return out;
}

bool is_valid_utf16(std::u16string_view units) {
    for (size_t i = 0; i < units.size(); ++i) {
        char16_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF)
                return false;
            ++i;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

}  // namespace sw
