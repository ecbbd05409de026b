#include "core/text.h"

#include <gtest/gtest.h>

namespace sw {
namespace {

TEST(Fmt, FillsPlaceholdersInOrder) {
    EXPECT_EQ(fmt("disk {} is {}", 3u, "gone"), "disk 3 is gone");
    EXPECT_EQ(fmt("{}{}", true, false), "truefalse");
    EXPECT_EQ(fmt("{} and {}", 'E'), "E and {}");
    EXPECT_EQ(fmt("{}", UINT64_MAX), "18446744073709551615");
    EXPECT_EQ(fmt("{}", -5), "-5");
}

TEST(Fmt, FixedAndPadding) {
    EXPECT_EQ(fixed(1.25, 1), "1.2");  // ties go to even, as in the exact binary value
    EXPECT_EQ(fixed(0.0, 3), "0.000");
    EXPECT_EQ(fixed(1234.56, 0), "1235");
    EXPECT_EQ(pad_right("INFO", 5), "INFO ");
    EXPECT_EQ(pad_right("ERROR", 5), "ERROR");
    EXPECT_EQ(pad_left("7", 3), "  7");
    EXPECT_EQ(shortest_float(1048576.0), "1048576.0");
    EXPECT_EQ(shortest_float(0.1), "0.1");
}

TEST(Quoting, DebugAndJsonForms) {
    EXPECT_EQ(debug_quoted("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(debug_quoted("x\ny\tz\r"), "\"x\\ny\\tz\\r\"");
    EXPECT_EQ(debug_quoted(std::string("\x01\x1f\x7f", 3)), "\"\\u{1}\\u{1f}\\u{7f}\"");
    EXPECT_EQ(debug_quoted("\\\\?\\Volume{1}\\"), "\"\\\\\\\\?\\\\Volume{1}\\\\\"");
    EXPECT_EQ(json_quoted("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\u000a\\u0001\"");
    EXPECT_EQ(json_quoted("caf\xC3\xA9"), "\"caf\xC3\xA9\"");
}

TEST(Text, DecimalParsing) {
    EXPECT_EQ(parse_u64_decimal("+22631"), 22631u);
    EXPECT_EQ(parse_u64_decimal("18446744073709551615"), UINT64_MAX);
    EXPECT_FALSE(parse_u64_decimal("18446744073709551616"));
    EXPECT_FALSE(parse_u64_decimal(""));
    EXPECT_FALSE(parse_u64_decimal("+"));
    EXPECT_FALSE(parse_u64_decimal("++1"));
    EXPECT_FALSE(parse_u64_decimal(" 1"));
    EXPECT_FALSE(parse_u64_decimal("-1"));
    EXPECT_FALSE(parse_u32_decimal("4294967296"));
    EXPECT_EQ(parse_u32_decimal("4294967295"), 4294967295u);
}

TEST(Text, AsciiCaseAndTrim) {
    EXPECT_EQ(trim("  a b \t"), "a b");
    EXPECT_TRUE(iequals_ascii("Ortivex", "ORTIVEX"));
    EXPECT_FALSE(iequals_ascii("\xC3\xA9", "\xC3\x89"));  // only ASCII letters fold
    EXPECT_TRUE(starts_with_ascii_ci("ACME Pocket", "acme"));
    EXPECT_EQ(replace_all("a  b   c", "  ", " "), "a b  c");  // one left-to-right pass
}

TEST(Utf8, ValidityFollowsTheUnicodeRules) {
    EXPECT_TRUE(is_valid_utf8("plain"));
    EXPECT_TRUE(is_valid_utf8("\xF0\x9F\x98\x80"));
    EXPECT_FALSE(is_valid_utf8("\xFF"));
    EXPECT_FALSE(is_valid_utf8("\xC0\xAF"));          // overlong
    EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(is_valid_utf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(is_valid_utf8("\xE2\x82"));          // truncated
}

TEST(Utf8, LossyReplacesMaximalSubparts) {
    EXPECT_EQ(utf8_lossy("a\xFF"
                         "b"),
              "a\xEF\xBF\xBD"
              "b");
    // A truncated three-byte sequence is one replacement, not two.
    EXPECT_EQ(utf8_lossy("\xE2\x82"
                         "x"),
              "\xEF\xBF\xBD"
              "x");
    EXPECT_EQ(utf8_lossy("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");
}

TEST(Utf8, VisibleTextShowsWhatWouldHideOrForgeALine) {
    // Ordinary text, non-ASCII included, is left alone.
    EXPECT_EQ(visible_text("24.10.3118-rc1"), "24.10.3118-rc1");
    EXPECT_EQ(visible_text("Ortivex \u00f1 \u4e2d\u6587"), "Ortivex \u00f1 \u4e2d\u6587");
    // A version that would end the line and start a forged one.
    EXPECT_EQ(visible_text("1.0\r\nOFFICIAL version=9"), "1.0\\r\\nOFFICIAL version=9");
    EXPECT_EQ(visible_text(std::string("a\0b\x1b[2J\x7f", 8)), "a\\u{00}b\\u{1b}[2J\\u{7f}");
    // C1 controls, separators and every bidirectional control.
    EXPECT_EQ(visible_text("\u0085\u2028\u2029"), "\\u{85}\\u{2028}\\u{2029}");
    EXPECT_EQ(visible_text("x\u202ey\u2066z\u200f\u061c"),
              "x\\u{202e}y\\u{2066}z\\u{200f}\\u{61c}");
    // Bytes that are not UTF-8; a Windows path stays as it is.
    EXPECT_EQ(visible_text("\xff\xc3"), "\\x{ff}\\x{c3}");
    EXPECT_EQ(visible_text("C:\\Users\\op\\image.iso"), "C:\\Users\\op\\image.iso");
}

TEST(Utf16, ConvertsPairsAndReplacesLoneSurrogates) {
    EXPECT_EQ(utf16_to_utf8(u"A\u00E9"), "A\xC3\xA9");
    std::u16string pair = {0xD83D, 0xDE00};
    EXPECT_EQ(utf16_to_utf8(pair), "\xF0\x9F\x98\x80");
    std::u16string lone = {u'a', 0xD83D, u'b'};
    EXPECT_EQ(utf16_to_utf8(lone),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_FALSE(is_valid_utf16(lone));
    std::u16string stops = {u'a', 0, u'b'};
    EXPECT_EQ(utf16_to_utf8(stops), "a");
    EXPECT_EQ(utf8_to_utf16("\xF0\x9F\x98\x80"), pair);
    EXPECT_EQ(utf8_to_utf16("x\xFF"), u"x\uFFFD");
}

}  // namespace
}  // namespace sw
