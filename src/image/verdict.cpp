#include "image/verdict.h"

#include "core/text.h"

namespace sw {

namespace {

// Like a debug string: quotes and backslashes escaped, control bytes as \u{..}.
std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (b < 0x20 || b == 0x7f) {
            static const char digits[] = "0123456789abcdef";
            out += "\\u{";
            if (b >= 0x10) out += digits[b >> 4];
            out += digits[b & 15];
            out += '}';
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

}  // namespace

std::string_view kind_name(ValidationError::Kind kind) {
    using K = ValidationError::Kind;
    switch (kind) {
        case K::Io:
            return "Io";
        case K::NotIso:
            return "NotIso";
        case K::NotOrtivex:
            return "NotOrtivex";
        case K::NotBootable:
            return "NotBootable";
        case K::BadSignature:
            return "BadSignature";
        case K::SizeMismatch:
            return "SizeMismatch";
        case K::Corrupted:
            return "Corrupted";
        case K::Malformed:
            return "Malformed";
        case K::Cancelled:
            return "Cancelled";
    }
    return "Io";
}

std::string ValidationError::message() const {
    using K = ValidationError::Kind;
    switch (kind) {
        case K::Io:
            return fmt("read error: {}", text);
        case K::NotIso:
            return "not an ISO 9660 image";
        case K::NotOrtivex:
            return "volume is not a Ortivex image";
        case K::NotBootable:
            return "no hybrid MBR/EFI layout: not bootable from USB";
        case K::BadSignature:
            return "media signature does not verify";
        case K::SizeMismatch:
            return fmt("size {} differs from signed size {}", actual, expected);
        case K::Corrupted:
            return "image hash differs from the signed hash";
        case K::Malformed:
            return fmt("malformed media signature block: {}", text);
        case K::Cancelled:
            return "cancelled";
    }
    return {};
}

std::string ValidationError::debug() const {
    using K = ValidationError::Kind;
    switch (kind) {
        case K::Io:
        case K::Malformed:
            return fmt("{}({})", kind_name(kind), quoted(text));
        case K::SizeMismatch:
            return fmt("SizeMismatch { expected: {}, actual: {} }", expected, actual);
        default:
            return std::string(kind_name(kind));
    }
}

}  // namespace sw
