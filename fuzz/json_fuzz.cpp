// Fuzzes the strict JSON reader against properties that must hold for every
// input, not only "no crash":
// - the verdict agrees with a second, independently written recogniser of the
//   same strict grammar (an explicit-stack state machine, its own UTF-8 and
//   escape decoding, keys compared as code points);
// - an error is one of the fixed texts, its offset lies within the input, and
//   the errors tied to the end of the input or to trailing bytes say so;
// - an accepted tree, written out again (raw UTF-8, and all-ASCII with \u
//   escapes), reads back to an equal tree and writes out to the same bytes;
// - the member lookups agree with the tree and with std::from_chars.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "json/json.h"

namespace {

using sw::JsonValue;
using Kind = JsonValue::Kind;

[[noreturn]] void fail(const char* what, std::string_view input) {
    std::fprintf(stderr, "json_fuzz: %s\ninput (%zu bytes):", what, input.size());
    for (unsigned char c : input.substr(0, 256))
        std::fprintf(stderr, " %02x", c);
    std::fputc('\n', stderr);
    std::abort();
}

// ---- The second recogniser ----------------------------------------------

bool is_ws(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Decodes one raw UTF-8 sequence at s[i] by computing its code point and
// refusing overlong forms, surrogates and values past U+10FFFF. Returns its
// length, or 0 when the bytes there are not a valid sequence.
size_t utf8_sequence(std::string_view s, size_t i, char32_t& cp) {
    auto b0 = static_cast<unsigned char>(s[i]);
    size_t len;
    char32_t min;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (s.size() - i < len) return 0;
    for (size_t k = 1; k < len; ++k) {
        auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

bool read_hex4(std::string_view s, size_t& i, char32_t& unit) {
    if (s.size() - i < 4) return false;
    unit = 0;
    for (size_t k = 0; k < 4; ++k) {
        char c = s[i + k];
        const char* digits = "0123456789abcdef0123456789ABCDEF";
        const char* p = std::strchr(digits, c);
        if (c == '\0' || p == nullptr) return false;
        unit = unit * 16 + static_cast<char32_t>((p - digits) % 16);
    }
    i += 4;
    return true;
}

// A string at s[i] (the opening quote), decoded into code points.
bool scan_string(std::string_view s, size_t& i, std::u32string& out) {
    out.clear();
    ++i;
    for (;;) {
        if (i >= s.size()) return false;
        auto c = static_cast<unsigned char>(s[i]);
        if (c == '"') {
            ++i;
            return true;
        }
        if (c < 0x20) return false;
        if (c != '\\') {
            char32_t cp;
            size_t n = utf8_sequence(s, i, cp);
            if (n == 0) return false;
            out += cp;
            i += n;
            continue;
        }
        if (i + 1 >= s.size()) return false;
        char e = s[i + 1];
        i += 2;
        static constexpr std::string_view kLetters = "\"\\/bfnrt";
        static constexpr std::u32string_view kMeanings = U"\"\\/\b\f\n\r\t";
        if (size_t k = kLetters.find(e); k != std::string_view::npos) {
            out += kMeanings[k];
            continue;
        }
        if (e != 'u') return false;
        char32_t unit;
        if (!read_hex4(s, i, unit)) return false;
        if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            char32_t low;
            if (s.substr(i, 2) != "\\u") return false;
            i += 2;
            if (!read_hex4(s, i, low) || low < 0xDC00 || low > 0xDFFF) return false;
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
        out += unit;
    }
}

// -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)? at s[i], longest match.
bool scan_number(std::string_view s, size_t& i) {
    auto digits = [&] {
        size_t start = i;
        while (i < s.size() && is_digit(s[i]))
            ++i;
        return i > start;
    };
    if (i < s.size() && s[i] == '-') ++i;
    if (i < s.size() && s[i] == '0') {
        ++i;
    } else if (!digits()) {
        return false;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        if (!digits()) return false;
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        if (!digits()) return false;
    }
    return true;
}

bool grammar_accepts(std::string_view s) {
    struct Frame {
        bool object;
        std::set<std::u32string> keys;
        std::u32string pending_key;
    };
    enum class Want { Value, ValueOrEnd, KeyOrEnd, Key, Colon, SeparatorOrEnd };
    std::vector<Frame> stack;
    Want want = Want::Value;
    size_t i = 0;

    // A value is complete: as an object member its key must be new.
    auto completed = [&] {
        want = Want::SeparatorOrEnd;
        if (stack.empty() || !stack.back().object) return true;
        return stack.back().keys.insert(stack.back().pending_key).second;
    };
    auto close = [&](char closer) {
        if (i >= s.size() || s[i] != closer) return false;
        ++i;
        stack.pop_back();
        return true;
    };

    for (;;) {
        while (i < s.size() && is_ws(s[i]))
            ++i;
        switch (want) {
            case Want::ValueOrEnd:
                if (close(']')) {
                    if (!completed()) return false;
                    break;
                }
                [[fallthrough]];
            case Want::Value: {
                if (stack.size() > sw::kJsonMaxDepth || i >= s.size()) return false;
                std::string_view rest = s.substr(i);
                if (rest[0] == '[' || rest[0] == '{') {
                    stack.push_back(Frame{rest[0] == '{', {}, {}});
                    want = rest[0] == '{' ? Want::KeyOrEnd : Want::ValueOrEnd;
                    ++i;
                    break;
                }
                std::u32string ignored;
                bool ok = false;
                if (rest[0] == '"') {
                    ok = scan_string(s, i, ignored);
                } else if (rest[0] == '-' || is_digit(rest[0])) {
                    ok = scan_number(s, i);
                } else {
                    for (std::string_view word : {"true", "false", "null"}) {
                        if (rest.starts_with(word)) {
                            i += word.size();
                            ok = true;
                        }
                    }
                }
                if (!ok || !completed()) return false;
                break;
            }
            case Want::KeyOrEnd:
                if (close('}')) {
                    if (!completed()) return false;
                    break;
                }
                [[fallthrough]];
            case Want::Key:
                if (i >= s.size() || s[i] != '"') return false;
                if (!scan_string(s, i, stack.back().pending_key)) return false;
                want = Want::Colon;
                break;
            case Want::Colon:
                if (i >= s.size() || s[i] != ':') return false;
                ++i;
                want = Want::Value;
                break;
            case Want::SeparatorOrEnd:
                if (stack.empty()) return i == s.size();
                if (i < s.size() && s[i] == ',') {
                    ++i;
                    want = stack.back().object ? Want::Key : Want::Value;
                    break;
                }
                if (!close(stack.back().object ? '}' : ']') || !completed()) return false;
                break;
        }
    }
}

// ---- Writing a tree back out --------------------------------------------

void write_unit(std::string& out, unsigned unit, bool upper) {
    char buf[8];
    std::snprintf(buf, sizeof buf, upper ? "\\u%04X" : "\\u%04x", unit);
    out += buf;
}

void write_string(std::string& out, std::string_view text, bool ascii) {
    out += '"';
    for (size_t i = 0; i < text.size();) {
        char32_t cp;
        size_t n = utf8_sequence(text, i, cp);
        if (n == 0) fail("the reader produced a string that is not UTF-8", text);
        if (cp == '"' || cp == '\\') {
            out += '\\';
            out += static_cast<char>(cp);
        } else if (cp == '\n') {
            out += "\\n";
        } else if (cp < 0x20) {
            write_unit(out, cp, ascii);
        } else if (ascii && cp == '/') {
            out += "\\/";
        } else if (ascii && cp >= 0x80 && cp < 0x10000) {
            write_unit(out, cp, cp & 1);
        } else if (ascii && cp >= 0x10000) {
            write_unit(out, 0xD800 + ((cp - 0x10000) >> 10), false);
            write_unit(out, 0xDC00 + ((cp - 0x10000) & 0x3FF), true);
        } else {
            out.append(text.substr(i, n));
        }
        i += n;
    }
    out += '"';
}

void write_value(std::string& out, const JsonValue& v, bool ascii) {
    switch (v.kind) {
        case Kind::Null:
            out += "null";
            break;
        case Kind::Boolean:
            out += v.boolean ? "true" : "false";
            break;
        case Kind::Number:
            out += v.text;
            break;
        case Kind::String:
            write_string(out, v.text, ascii);
            break;
        case Kind::Array: {
            out += '[';
            const char* sep = "";
            for (const auto& e : v.array) {
                out += sep;
                write_value(out, e, ascii);
                sep = ascii ? "," : ", ";
            }
            out += ']';
            break;
        }
        case Kind::Object: {
            out += ascii ? "{" : "{\n";
            const char* sep = "";
            for (const auto& [k, e] : v.object) {
                out += sep;
                write_string(out, k, ascii);
                out += ':';
                write_value(out, e, ascii);
                sep = ascii ? "," : ",\r\n\t";
            }
            out += '}';
            break;
        }
    }
}

bool same_tree(const JsonValue& a, const JsonValue& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
        case Kind::Null:
            return true;
        case Kind::Boolean:
            return a.boolean == b.boolean;
        case Kind::Number:
        case Kind::String:
            return a.text == b.text;
        case Kind::Array:
            if (a.array.size() != b.array.size()) return false;
            for (size_t k = 0; k < a.array.size(); ++k) {
                if (!same_tree(a.array[k], b.array[k])) return false;
            }
            return true;
        case Kind::Object: {
            if (a.object.size() != b.object.size()) return false;
            for (auto x = a.object.begin(), y = b.object.begin(); x != a.object.end(); ++x, ++y) {
                if (x->first != y->first || !same_tree(x->second, y->second)) return false;
            }
            return true;
        }
    }
    return false;
}

// ---- Checks ---------------------------------------------------------------

constexpr std::string_view kMessages[] = {
    "trailing characters",
    "nesting too deep",
    "unexpected end of input",
    "unexpected character",
    "invalid literal",
    "invalid number",
    "invalid fraction",
    "invalid exponent",
    "unterminated string",
    "control character in string",
    "bad escape",
    "short \\u escape",
    "bad \\u escape",
    "lone surrogate",
    "bad surrogate pair",
    "bad code point",
    "invalid UTF-8",
    "expected ',' or ']'",
    "expected ',' or '}'",
    "expected object key",
    "expected ':'",
    "duplicate object key",
};

void check_error(std::string_view in, const sw::JsonError& e) {
    if (e.message == nullptr) fail("error without a message", in);
    std::string_view m = e.message;
    bool known = false;
    for (std::string_view k : kMessages)
        known = known || k == m;
    if (!known) fail("error message outside the fixed set", in);
    if (e.offset > in.size()) fail("error offset past the end of the input", in);
    if ((m == "unexpected end of input" || m == "unterminated string") && e.offset != in.size()) {
        fail("end-of-input error away from the end", in);
    }
    if (m == "short \\u escape" && in.size() - e.offset >= 4) fail("short escape with room", in);
    if (m == "trailing characters") {
        if (e.offset >= in.size() || is_ws(in[e.offset])) fail("trailing offset misplaced", in);
        if (!sw::parse_json(in.substr(0, e.offset))) fail("text before trailing bytes fails", in);
    }
}

void check_lookups(std::string_view in, const JsonValue& doc) {
    if (doc.kind != Kind::Object) {
        if (sw::json_member_str(doc, "") || sw::json_member_u64(doc, "")) {
            fail("member found in a non-object", in);
        }
        return;
    }
    for (const auto& [key, v] : doc.object) {
        auto s = sw::json_member_str(doc, key);
        if (s.has_value() != (v.kind == Kind::String) || (s && *s != v.text)) {
            fail("json_member_str disagrees with the tree", in);
        }
        std::optional<uint64_t> expected;
        if (v.kind == Kind::Number && v.text.find_first_not_of("0123456789") == std::string::npos) {
            uint64_t n = 0;
            const char* end = v.text.data() + v.text.size();
            auto r = std::from_chars(v.text.data(), end, n);
            if (r.ec == std::errc() && r.ptr == end) expected = n;
        }
        if (sw::json_member_u64(doc, key) != expected) {
            fail("json_member_u64 disagrees with from_chars", in);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    auto doc = sw::parse_json(in);
    if (doc.has_value() != grammar_accepts(in)) {
        fail(doc ? "reader accepts what the grammar refuses" : "reader refuses a valid document",
             in);
    }
    if (!doc) {
        check_error(in, doc.error());
        return 0;
    }
    for (bool ascii : {false, true}) {
        std::string text;
        write_value(text, *doc, ascii);
        auto again = sw::parse_json(text);
        if (!again) fail("a written tree does not read back", in);
        if (!same_tree(*doc, *again)) fail("a written tree reads back different", in);
        std::string text2;
        write_value(text2, *again, ascii);
        if (text2 != text) fail("writing is not stable", in);
    }
    check_lookups(in, *doc);
    return 0;
}
