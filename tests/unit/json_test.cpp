#include "json/json.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace sw {
namespace {

using namespace std::string_view_literals;
using JsonKind = JsonValue::Kind;

// Input bytes made readable in failure output.
std::string shown(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out.size() > 80 ? out.substr(0, 80) + "..." : out;
}

struct ErrorCase {
    std::string_view input;
    std::string_view message;
    size_t offset;
};

void expect_error(const ErrorCase& c) {
    SCOPED_TRACE("input: " + shown(c.input));
    auto r = parse_json(c.input);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(std::string_view(r.error().message), c.message);
    EXPECT_EQ(r.error().offset, c.offset);
}

JsonValue parsed(std::string_view input) {
    auto r = parse_json(input);
    if (!r) {
        ADD_FAILURE() << "rejected " << shown(input) << ": " << r.error().message << " at "
                      << r.error().offset;
        return {};
    }
    return std::move(*r);
}

// Every message with the offset at which it is reported.
TEST(JsonErrors, MessagesAndOffsets) {
    const ErrorCase cases[] = {
        {"", "unexpected end of input", 0},
        {" \t\r\n", "unexpected end of input", 4},
        {"[", "unexpected end of input", 1},
        {"[1,", "unexpected end of input", 3},
        {"{\"a\":", "unexpected end of input", 5},

        {"{} x", "trailing characters", 3},
        {"1 \t\n\r 2", "trailing characters", 6},
        {"nullx", "trailing characters", 4},
        {"01", "trailing characters", 1},
        {"[]]", "trailing characters", 2},

        {"]", "unexpected character", 0},
        {"[1,]", "unexpected character", 3},
        {"+1", "unexpected character", 0},
        {"{\"a\":}", "unexpected character", 5},
        {"\f1", "unexpected character", 0},  // form feed is not whitespace here

        {"tru", "invalid literal", 0},
        {"[fals]", "invalid literal", 1},
        {"nul", "invalid literal", 0},
        {"[true,nulL]", "invalid literal", 6},

        {"-", "invalid number", 1},
        {"-a", "invalid number", 1},
        {"[-.5]", "invalid number", 2},
        {"1.", "invalid fraction", 2},
        {"[1.e5]", "invalid fraction", 3},
        {"1e", "invalid exponent", 2},
        {"1e+", "invalid exponent", 3},
        {"[2.5E-x]", "invalid exponent", 6},

        {"\"abc", "unterminated string", 4},
        {"\"", "unterminated string", 1},
        {"\"\\\"", "unterminated string", 3},
        {"\"\xFF", "unterminated string", 2},  // the end comes before the UTF-8 check

        {"\"a\tb\"", "control character in string", 3},
        {"\"\0\""sv, "control character in string", 2},
        {"[\"\x1F\"]", "control character in string", 3},
        {"\"\xFF\x01\"", "control character in string", 3},

        {"\"\\x\"", "bad escape", 3},
        {"\"\\'\"", "bad escape", 3},
        {"[\"\\U0041\"]", "bad escape", 4},
        {"\"\\", "bad escape", 2},

        {"\"\\u12\"", "short \\u escape", 3},  // three bytes left, one of them the quote
        {"\"\\u123", "short \\u escape", 3},
        {"\"\\uD83D\\u00\"", "short \\u escape", 9},
        {"\"\\u12G4\"", "bad \\u escape", 3},
        {"[\"\\u12\"]", "bad \\u escape", 4},  // four bytes left: the quote is not a digit
        {"\"\\uD83D\\uZZZZ\"", "bad \\u escape", 9},

        {"\"\\uD83D\"", "lone surrogate", 7},
        {"\"\\uDE00\"", "lone surrogate", 7},
        {"\"\\uD83D", "lone surrogate", 7},
        {"\"\\uD83Dx\"", "lone surrogate", 7},
        {"\"\\uD83D\\n\"", "lone surrogate", 7},
        {"\"\\uDE00\\uD83D\"", "lone surrogate", 7},
        {"\"\\uD83D\\u0041\"", "bad surrogate pair", 13},
        {"\"\\udbff\\udbff\"", "bad surrogate pair", 13},

        {"\"\xFF\"", "invalid UTF-8", 3},
        {"[\"\xC3\"]", "invalid UTF-8", 4},
        {"{\"\xC0\xAF\":1}", "invalid UTF-8", 5},

        {"[1 2]", "expected ',' or ']'", 3},
        {"[1", "expected ',' or ']'", 2},
        {"[1:", "expected ',' or ']'", 2},
        {"{\"a\":1 \"b\":2}", "expected ',' or '}'", 7},
        {"{\"a\":1", "expected ',' or '}'", 6},
        {"{\"a\":1]", "expected ',' or '}'", 6},
        {"{1:2}", "expected object key", 1},
        {"{", "expected object key", 1},
        {"{\"a\":1, }", "expected object key", 8},
        {"{'a':1}", "expected object key", 1},
        {"{\"a\" 1}", "expected ':'", 5},
        {"{\"a\"", "expected ':'", 4},

        {"{\"a\":1,\"a\":2}", "duplicate object key", 12},
        {"{\"a\":1,\"a\":[2] }", "duplicate object key", 14},  // past the value, not the blank
        {"{\"a\":1,\"\\u0061\":2}", "duplicate object key", 17},
        {"[{},{\"k\":{},\"k\":null}]", "duplicate object key", 20},
    };
    for (const auto& c : cases)
        expect_error(c);
}

// Values at depths 0 through 32 are read; depth 33 is refused where it starts.
TEST(JsonErrors, NestingLimit) {
    const std::string open33(33, '['), close33(33, ']');
    EXPECT_TRUE(parse_json(open33 + close33).has_value());
    EXPECT_TRUE(parse_json(std::string(32, '[') + "1" + std::string(32, ']')).has_value());

    expect_error({open33 + "1" + close33, "nesting too deep", 33});
    expect_error({"[" + open33 + close33 + "]", "nesting too deep", 33});
    expect_error({open33 + " \"x\"]", "nesting too deep", 34});
    // The depth is checked before the end of the input.
    expect_error({open33, "nesting too deep", 33});

    std::string objects;
    for (int i = 0; i < 32; ++i)
        objects += "{\"k\":";
    EXPECT_TRUE(parse_json(objects + "{}" + std::string(32, '}')).has_value());
    expect_error({objects + "{\"k\":0}" + std::string(32, '}'), "nesting too deep", 32 * 5 + 5});

    // Far deeper input stops at the limit instead of exhausting the stack.
    expect_error({std::string(1'000'000, '['), "nesting too deep", 33});
    expect_error({std::string(500'000, '[') + std::string(500'000, '{'), "nesting too deep", 33});
}

// Documents read as RFC 8259 allows, within the nesting limit.
TEST(JsonConformance, Accepted) {
    const std::string_view docs[] = {
        "0",
        "-0",
        "-0.0e+0",
        "1E10",
        "1e-10",
        "123.456e789",
        "-1.5E+3",
        "9007199254740993",
        "100000000000000000000000000000000000000000000000000000000000000000000000000000000",
        "true",
        "false",
        "null",
        "\"\"",
        "\"\\u0000\"",
        "\"\\/\\\\\\\"\\b\\f\\n\\r\\t\"",
        "\"\x7F\"",              // DEL is not a control character in JSON
        "\"\xC2\x80\xDF\xBF\"",  // two-byte bounds
        "\"\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF\"",  // around the surrogates
        "\"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\"",                  // four-byte bounds
        "\"\\uFFFF\\uFFFE\\uD800\\uDC00\\uDBFF\\uDFFF\"",
        "\"\\uaBcD\"",
        "[]",
        "{}",
        "[[]]",
        "[1,2,3]",
        "[-0,0.0,1e0,true,null,\"\",{}]",
        "{\"\":0}",
        "{\"a\":1,\"A\":1}",
        "{\"a\":{\"a\":{\"a\":[]}}}",
        "{\"a\":[{\"b\":null}],\"c\":\"d\"}",
        " \t\n\r[ \t\n\r1 \t\n\r, 2 ]\r\n",
        "{ \"k\" : \"v\" , \"l\" : [ ] }",
        "\"\xEF\xBB\xBF\"",  // a BOM inside a string is text
    };
    for (std::string_view d : docs) {
        auto r = parse_json(d);
        EXPECT_TRUE(r.has_value()) << shown(d) << ": " << (r ? "" : r.error().message);
    }
}

// Documents the reader refuses, with the reason it gives.
TEST(JsonConformance, Rejected) {
    struct Case {
        std::string_view doc;
        std::string_view message;
    };
    const Case cases[] = {
        // Numbers: leading zeros, bare points, signs and words JSON does not have.
        {"00", "trailing characters"},
        {"-01", "trailing characters"},
        {"[01]", "expected ',' or ']'"},
        {"0x10", "trailing characters"},
        {".5", "unexpected character"},
        {"1.5.", "trailing characters"},
        {"NaN", "unexpected character"},
        {"nan", "invalid literal"},
        {"Infinity", "unexpected character"},
        {"-Infinity", "invalid number"},
        {"1e5.0", "trailing characters"},
        // Quotes, comments, separators.
        {"'a'", "unexpected character"},
        {"{a:1}", "expected object key"},
        {"{null:1}", "expected object key"},
        {"// c\n1", "unexpected character"},
        {"1 /* c */", "trailing characters"},
        {"[1, /*x*/ 2]", "unexpected character"},
        {"[,]", "unexpected character"},
        {"[1,,2]", "unexpected character"},
        {"{\"a\":1,}", "expected object key"},
        {"{,}", "expected object key"},
        {"{\"a\"}", "expected ':'"},
        {"{\"a\"=1}", "expected ':'"},
        {"1 2", "trailing characters"},
        {"{}{}", "trailing characters"},
        {"True", "unexpected character"},
        {"undefined", "unexpected character"},
        // Bytes outside strings.
        {"\xEF\xBB\xBF{}", "unexpected character"},
        {"\xC2\xA0"
         "1",
         "unexpected character"},
        {"1\v", "trailing characters"},
        {"1\0"sv, "trailing characters"},
        // Raw control characters and unknown escapes.
        {"\"a\nb\"", "control character in string"},
        {"\"\r\"", "control character in string"},
        {"\"\\a\"", "bad escape"},
        {"\"\\0\"", "bad escape"},
        {"\"\\x41\"", "bad escape"},
        // Invalid UTF-8: stray and truncated bytes, overlongs, surrogates, above U+10FFFF.
        {"\"\x80\"", "invalid UTF-8"},
        {"\"\xC3\"", "invalid UTF-8"},
        {"\"\xE2\x82\"", "invalid UTF-8"},
        {"\"\xF0\x9F\x98\"", "invalid UTF-8"},
        {"\"\xFE\"", "invalid UTF-8"},
        {"\"\xC0\xAF\"", "invalid UTF-8"},
        {"\"\xC1\xBF\"", "invalid UTF-8"},
        {"\"\xE0\x80\xAF\"", "invalid UTF-8"},
        {"\"\xE0\x9F\xBF\"", "invalid UTF-8"},
        {"\"\xF0\x80\x80\xAF\"", "invalid UTF-8"},
        {"\"\xF0\x8F\xBF\xBF\"", "invalid UTF-8"},
        {"\"\xED\xA0\x80\"", "invalid UTF-8"},
        {"\"\xED\xBF\xBF\"", "invalid UTF-8"},
        {"\"\xED\xA0\xBD\xED\xB8\x80\"", "invalid UTF-8"},  // a surrogate pair spelt in UTF-8
        {"\"\xF4\x90\x80\x80\"", "invalid UTF-8"},
        {"\"\xF5\x80\x80\x80\"", "invalid UTF-8"},
        {"\"\xC3\\u00A9\"", "invalid UTF-8"},  // an escape cannot finish a raw sequence
        {"\"\\u00C3\xA9\"", "invalid UTF-8"},
        // Escaped surrogates must pair up (an RFC reader may let them pass).
        {"\"\\uDFFF\"", "lone surrogate"},
        {"\"\\uD800 \\uDC00\"", "lone surrogate"},
        {"\"\\uD800\\uE000\"", "bad surrogate pair"},
        // Repeated keys (an RFC reader may let them pass).
        {"{\"a\":1,\"a\":1}", "duplicate object key"},
        {"{\"\xC3\xA9\":1,\"\\u00e9\":2}", "duplicate object key"},
    };
    for (const auto& c : cases) {
        auto r = parse_json(c.doc);
        ASSERT_FALSE(r.has_value()) << shown(c.doc);
        EXPECT_EQ(std::string_view(r.error().message), c.message) << shown(c.doc);
    }
}

TEST(JsonTree, ScalarsKeepTheirSourceText) {
    EXPECT_EQ(parsed("null").kind, JsonKind::Null);
    JsonValue t = parsed(" true "), f = parsed("false");
    EXPECT_EQ(t.kind, JsonKind::Boolean);
    EXPECT_TRUE(t.boolean);
    EXPECT_EQ(f.kind, JsonKind::Boolean);
    EXPECT_FALSE(f.boolean);

    for (std::string_view n :
         {"-12.5e3", "0", "-0", "1E+07", "0.000100", "123456789012345678901234567890"}) {
        JsonValue v = parsed(n);
        EXPECT_EQ(v.kind, JsonKind::Number);
        EXPECT_EQ(v.text, n);
    }
    EXPECT_EQ(parsed("[ 1.50 ,2]").array.at(0).text, "1.50");
}

TEST(JsonTree, StringsAreDecoded) {
    EXPECT_EQ(parsed("\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"").text, "\"\\/\b\f\n\r\t");
    EXPECT_EQ(parsed("\"\\u0041\\u00e9\\u20AC\"").text, "A\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(parsed("\"\\uD83D\\uDE00\"").text, "\xF0\x9F\x98\x80");
    EXPECT_EQ(parsed("\"\\uDBFF\\uDFFF\"").text, "\xF4\x8F\xBF\xBF");
    EXPECT_EQ(parsed("\"a\\u0000b\"").text, "a\0b"sv);
    EXPECT_EQ(parsed("\"\xE2\x82\xAC x\"").text, "\xE2\x82\xAC x");
    EXPECT_EQ(parsed("\"\"").kind, JsonKind::String);
}

TEST(JsonTree, ContainersKeepOrderAndKeys) {
    JsonValue a = parsed("[3, [\"x\"], {}, null]");
    ASSERT_EQ(a.kind, JsonKind::Array);
    ASSERT_EQ(a.array.size(), 4u);
    EXPECT_EQ(a.array[0].text, "3");
    ASSERT_EQ(a.array[1].array.size(), 1u);
    EXPECT_EQ(a.array[1].array[0].text, "x");
    EXPECT_EQ(a.array[2].kind, JsonKind::Object);
    EXPECT_TRUE(a.array[2].object.empty());
    EXPECT_EQ(a.array[3].kind, JsonKind::Null);

    // Ascending byte order: a prefix first, upper case before lower, bytes above
    // 0x7F after every ASCII key, whatever order the text used.
    JsonValue o = parsed("{\"\xC3\xA9\":1,\"b\":2,\"ab\":3,\"a\":4,\"Z\":5,\"\\u0000\":6}");
    ASSERT_EQ(o.kind, JsonKind::Object);
    std::string keys;
    for (const auto& [k, v] : o.object)
        keys += "<" + k + ">";
    EXPECT_EQ(keys, "<\0><Z><a><ab><b><\xC3\xA9>"sv);
    EXPECT_EQ(o.object.at("ab").text, "3");
}

TEST(JsonMembers, TextAndUnsignedLookups) {
    JsonValue doc =
        parsed(R"({"size":4096,"frac":4096.0,"exp":1e3,"neg":-0,"minus":-1,"zero":0,)"
               R"("max":18446744073709551615,"over":18446744073709551616,)"
               R"("huge":99999999999999999999,"text":"4096","null":null,"Size":"S","":"empty"})");

    EXPECT_EQ(json_member_u64(doc, "size"), 4096u);
    EXPECT_EQ(json_member_str(doc, "size"), std::nullopt);
    EXPECT_EQ(json_member_u64(doc, "zero"), 0u);
    EXPECT_EQ(json_member_u64(doc, "max"), UINT64_MAX);
    for (std::string_view k :
         {"frac", "exp", "neg", "minus", "over", "huge", "text", "null", "missing", "Size"}) {
        EXPECT_EQ(json_member_u64(doc, k), std::nullopt) << k;
    }

    EXPECT_EQ(json_member_str(doc, "text"), "4096");
    EXPECT_EQ(json_member_str(doc, "Size"), "S");  // keys are case-sensitive
    EXPECT_EQ(json_member_str(doc, ""), "empty");
    EXPECT_EQ(json_member_str(doc, "siz"), std::nullopt);
    EXPECT_EQ(json_member_str(doc, "null"), std::nullopt);

    // Only objects have members.
    JsonValue arr = parsed("[\"size\",4096]"), str = parsed("\"size\"");
    EXPECT_EQ(json_member_str(arr, "size"), std::nullopt);
    EXPECT_EQ(json_member_u64(arr, "size"), std::nullopt);
    EXPECT_EQ(json_member_str(str, "size"), std::nullopt);

    // Keys are compared as decoded bytes.
    JsonValue esc = parsed("{\"k\\u00e9\\u0000\":\"v\"}");
    EXPECT_EQ(json_member_str(esc, "k\xC3\xA9\0"sv), "v");
    EXPECT_EQ(json_member_str(esc, "k\xC3\xA9"), std::nullopt);
}

}  // namespace
}  // namespace sw
