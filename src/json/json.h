// A small, strict reader for JSON text (RFC 8259 grammar): bytes become a tree
// of values, or one error with a fixed message and the byte offset at which
// reading stopped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

namespace sw {

struct JsonValue {
    enum class Kind { Null, Boolean, Number, String, Array, Object };

    Kind kind = Kind::Null;
    bool boolean = false;
    // Number: its exact source text (never converted). String: the decoded UTF-8 text.
    std::string text;
    std::vector<JsonValue> array;
    // Keys unique, in ascending byte order (a prefix sorts first).
    std::map<std::string, JsonValue, std::less<>> object;
};

struct JsonError {
    const char* message;  // one of the fixed texts, e.g. "trailing characters"
    size_t offset;
};

inline constexpr int kJsonMaxDepth = 32;

Result<JsonValue, JsonError> parse_json(std::string_view bytes);

// The member `key` of an object when it is a string; absent otherwise.
std::optional<std::string_view> json_member_str(const JsonValue& value, std::string_view key);
// The member `key` of an object when it is a number written with decimal
// digits only that fits in 64 unsigned bits; absent otherwise.
std::optional<uint64_t> json_member_u64(const JsonValue& value, std::string_view key);

}  // namespace sw
