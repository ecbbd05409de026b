// Small text helpers shared by every part of the program: "{}" templates,
// fixed-point numbers, ASCII case rules and UTF-8/UTF-16 conversion.
#pragma once

#include <charconv>
#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sw {

namespace detail {
inline void append_text(std::string& out, std::string_view s) {
    out += s;
}
inline void append_text(std::string& out, const std::string& s) {
    out += s;
}
inline void append_text(std::string& out, const char* s) {
    out += s;
}
inline void append_text(std::string& out, char c) {
    out += c;
}
inline void append_text(std::string& out, bool b) {
    out += b ? "true" : "false";
}
template <std::integral T>
requires(!std::same_as<T, bool> && !std::same_as<T, char>) void append_text(std::string& out, T v) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr);
}
std::string fill_template(std::string_view tmpl, const std::vector<std::string>& args);
}  // namespace detail

// Fills the "{}" placeholders of a template in order. Numbers are written in
// decimal, booleans as true/false; floating-point values go through fixed().
// Placeholders without an argument stay as they are.
template <class... Args>
std::string fmt(std::string_view tmpl, const Args&... args) {
    std::vector<std::string> texts;
    texts.reserve(sizeof...(args));
    (
        [&] {
            std::string s;
            detail::append_text(s, args);
            texts.push_back(std::move(s));
        }(),
        ...);
    return detail::fill_template(tmpl, texts);
}

// A number with a fixed count of decimals ("{:.1}").
std::string fixed(double value, int decimals);
// The shortest decimal form that reads back exactly, always with a
// fractional part (1048576.0, 0.1).
std::string shortest_float(double value);
// Left-aligned and right-aligned padding to a width in bytes ("{:<30}", "{:>9}").
std::string pad_right(std::string_view s, size_t width);
std::string pad_left(std::string_view s, size_t width);
// Items separated by ", " (device holders, mount points).
std::string joined(const std::vector<std::string>& items);

// A text in double quotes as a debug rendering shows it: quotes and
// backslashes escaped, \n \r \t by name, other control bytes as \u{..}.
std::string debug_quoted(std::string_view s);
// A JSON string literal (quotes, backslashes and control bytes escaped).
std::string json_quoted(std::string_view s);

bool is_ascii_space(char c);
std::string_view trim(std::string_view s);
std::string ascii_lower(std::string_view s);
std::string ascii_upper(std::string_view s);
bool iequals_ascii(std::string_view a, std::string_view b);
bool starts_with_ascii_ci(std::string_view s, std::string_view prefix);
// Replaces every non-overlapping occurrence of `from` (non-empty) by `to`, left to right.
std::string replace_all(std::string_view s, std::string_view from, std::string_view to);

// Unsigned decimal numbers: digits only, optionally after one leading '+';
// no blanks; absent on overflow or any other byte.
std::optional<uint64_t> parse_u64_decimal(std::string_view s);
std::optional<uint32_t> parse_u32_decimal(std::string_view s);

bool is_valid_utf8(std::string_view bytes);
// Appends one Unicode scalar value in UTF-8 (1 to 4 bytes).
void append_utf8(std::string& out, uint32_t code_point);
// Bytes to text, each invalid sequence replaced by U+FFFD.
std::string utf8_lossy(std::string_view bytes);
// A text that came from outside (an image's version, a file name) made safe
// to print or log: control characters (C0, DEL, C1), line and paragraph
// separators and the bidirectional controls that reorder what is shown
// become \u{..} (line feed, carriage return and tab as \n, \r, \t) and
// bytes that are not UTF-8 become \x{..}, so that no such text can start a
// line of its own or pass for another one. Backslashes stay as they are:
// they fill every Windows path.
std::string visible_text(std::string_view text);
// UTF-16 up to its first zero unit, to UTF-8; unpaired surrogates become U+FFFD.
std::string utf16_to_utf8(std::u16string_view units);
// UTF-8 to UTF-16; invalid sequences become U+FFFD.
std::u16string utf8_to_utf16(std::string_view text);
// Strict check: true when the UTF-16 text has no unpaired surrogate.
bool is_valid_utf16(std::u16string_view units);

}  // namespace sw
