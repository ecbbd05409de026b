#include "json/json.h"

#include <utility>

#include "core/text.h"

namespace sw {
namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

int hex_digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One pass over the input with a byte cursor. Each reading step returns false
// after recording the first error; callers only propagate it, so the error is
// the one found where reading stopped and nothing is retried.
class Parser {
  public:
    explicit Parser(std::string_view in) : in_(in) {}

    Result<JsonValue, JsonError> document() {
        JsonValue root;
        skip_whitespace();
        if (!value(root, 0)) return unexpected(error_);
        skip_whitespace();
        if (!at_end()) return unexpected(JsonError{"trailing characters", pos_});
        return root;
    }

  private:
    bool at_end() const { return pos_ >= in_.size(); }
    bool next_is(char c) const { return !at_end() && in_[pos_] == c; }

    bool fail(const char* message, size_t offset) {
        error_ = JsonError{message, offset};
        return false;
    }

    void skip_whitespace() {
        while (!at_end()) {
            char c = in_[pos_];
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return;
            ++pos_;
        }
    }

    // The depth test comes first so that the recursion below never goes more
    // than one level past the limit, whatever the input holds.
    bool value(JsonValue& out, int depth) {
        if (depth > kJsonMaxDepth) return fail("nesting too deep", pos_);
        if (at_end()) return fail("unexpected end of input", pos_);
        char c = in_[pos_];
        switch (c) {
            case '"':
                out.kind = JsonValue::Kind::String;
                return string(out.text);
            case '[':
                out.kind = JsonValue::Kind::Array;
                return array(out, depth);
            case '{':
                out.kind = JsonValue::Kind::Object;
                return object(out, depth);
            case 't':
                out.kind = JsonValue::Kind::Boolean;
                out.boolean = true;
                return literal("true");
            case 'f':
                out.kind = JsonValue::Kind::Boolean;
                out.boolean = false;
                return literal("false");
            case 'n':
                out.kind = JsonValue::Kind::Null;
                return literal("null");
            default:
                if (c == '-' || is_digit(c)) {
                    out.kind = JsonValue::Kind::Number;
                    return number(out.text);
                }
                return fail("unexpected character", pos_);
        }
    }

    bool literal(std::string_view word) {
        if (!in_.substr(pos_).starts_with(word)) return fail("invalid literal", pos_);
        pos_ += word.size();
        return true;
    }

    void skip_digits() {
        while (!at_end() && is_digit(in_[pos_]))
            ++pos_;
    }

    bool number(std::string& text) {
        size_t start = pos_;
        if (next_is('-')) ++pos_;
        if (at_end() || !is_digit(in_[pos_])) return fail("invalid number", pos_);
        // A leading zero is the whole integer part; what follows it is the caller's.
        if (in_[pos_] == '0') {
            ++pos_;
        } else {
            skip_digits();
        }
        if (next_is('.')) {
            ++pos_;
            if (at_end() || !is_digit(in_[pos_])) return fail("invalid fraction", pos_);
            skip_digits();
        }
        if (next_is('e') || next_is('E')) {
            ++pos_;
            if (next_is('+') || next_is('-')) ++pos_;
            if (at_end() || !is_digit(in_[pos_])) return fail("invalid exponent", pos_);
            skip_digits();
        }
        text.assign(in_.substr(start, pos_ - start));
        return true;
    }

    // Four hexadecimal digits after "\u"; the cursor stands on the first.
    bool hex_unit(uint32_t& unit) {
        size_t first = pos_;
        if (in_.size() - pos_ < 4) return fail("short \\u escape", first);
        unit = 0;
        for (size_t k = 0; k < 4; ++k) {
            int v = hex_digit_value(in_[pos_ + k]);
            if (v < 0) return fail("bad \\u escape", first);
            unit = unit * 16 + static_cast<uint32_t>(v);
        }
        pos_ += 4;
        return true;
    }

    // The cursor stands just past "\u".
    bool unicode_escape(std::string& out) {
        uint32_t unit = 0;
        if (!hex_unit(unit)) return false;
        uint32_t cp = unit;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (in_.size() - pos_ < 2 || in_[pos_] != '\\' || in_[pos_ + 1] != 'u') {
                return fail("lone surrogate", pos_);
            }
            pos_ += 2;
            uint32_t low = 0;
            if (!hex_unit(low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return fail("bad surrogate pair", pos_);
            cp = 0x10000 + (unit - 0xD800) * 0x400 + (low - 0xDC00);
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return fail("lone surrogate", pos_);
        }
        // Cannot trigger with the checks above; kept so that nothing but a
        // Unicode scalar value is ever encoded, should they change.
        if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return fail("bad code point", pos_);
        append_utf8(out, cp);
        return true;
    }

    // The cursor stands on the opening quote.
    bool string(std::string& out) {
        ++pos_;
        out.clear();
        for (;;) {
            // Plain bytes are copied in runs rather than one at a time.
            size_t run = pos_;
            while (!at_end()) {
                auto b = static_cast<unsigned char>(in_[pos_]);
                if (b == '"' || b == '\\' || b < 0x20) break;
                ++pos_;
            }
            out.append(in_.substr(run, pos_ - run));
            if (at_end()) return fail("unterminated string", pos_);
            auto b = static_cast<unsigned char>(in_[pos_++]);
            if (b == '"') break;
            if (b < 0x20) return fail("control character in string", pos_);
            // A backslash.
            if (at_end()) return fail("bad escape", pos_);
            char e = in_[pos_++];
            switch (e) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u':
                    if (!unicode_escape(out)) return false;
                    break;
                default:
                    return fail("bad escape", pos_);
            }
        }
        // Escapes only ever add whole sequences, so checking the decoded text
        // once at the end catches every malformed raw byte.
        if (!is_valid_utf8(out)) return fail("invalid UTF-8", pos_);
        return true;
    }

    bool array(JsonValue& out, int depth) {
        ++pos_;
        skip_whitespace();
        if (next_is(']')) {
            ++pos_;
            return true;
        }
        for (;;) {
            skip_whitespace();
            out.array.emplace_back();
            if (!value(out.array.back(), depth + 1)) return false;
            skip_whitespace();
            if (next_is(',')) {
                ++pos_;
            } else if (next_is(']')) {
                ++pos_;
                return true;
            } else {
                return fail("expected ',' or ']'", pos_);
            }
        }
    }

    bool object(JsonValue& out, int depth) {
        ++pos_;
        skip_whitespace();
        if (next_is('}')) {
            ++pos_;
            return true;
        }
        for (;;) {
            skip_whitespace();
            if (!next_is('"')) return fail("expected object key", pos_);
            std::string key;
            if (!string(key)) return false;
            skip_whitespace();
            if (!next_is(':')) return fail("expected ':'", pos_);
            ++pos_;
            skip_whitespace();
            JsonValue member;
            if (!value(member, depth + 1)) return false;
            // A repeated key is refused rather than letting one value win, so
            // that no two readers of the same text can see different members.
            if (!out.object.try_emplace(std::move(key), std::move(member)).second) {
                return fail("duplicate object key", pos_);
            }
            skip_whitespace();
            if (next_is(',')) {
                ++pos_;
            } else if (next_is('}')) {
                ++pos_;
                return true;
            } else {
                return fail("expected ',' or '}'", pos_);
            }
        }
    }

    std::string_view in_;
    size_t pos_ = 0;
    JsonError error_{"", 0};
};

const JsonValue* member(const JsonValue& value, std::string_view key) {
    if (value.kind != JsonValue::Kind::Object) return nullptr;
    auto it = value.object.find(key);
    return it == value.object.end() ? nullptr : &it->second;
}

}  // namespace

Result<JsonValue, JsonError> parse_json(std::string_view bytes) {
    return Parser(bytes).document();
}

std::optional<std::string_view> json_member_str(const JsonValue& value, std::string_view key) {
    const JsonValue* m = member(value, key);
    if (m == nullptr || m->kind != JsonValue::Kind::String) return std::nullopt;
    return std::string_view(m->text);
}

std::optional<uint64_t> json_member_u64(const JsonValue& value, std::string_view key) {
    const JsonValue* m = member(value, key);
    if (m == nullptr || m->kind != JsonValue::Kind::Number || m->text.empty()) {
        return std::nullopt;
    }
    for (char c : m->text) {
        if (!is_digit(c)) return std::nullopt;
    }
    uint64_t v = 0;
    for (char c : m->text) {
        auto d = static_cast<uint64_t>(c - '0');
        if (v > (UINT64_MAX - d) / 10) return std::nullopt;
        v = v * 10 + d;
    }
    return v;
}

}  // namespace sw
