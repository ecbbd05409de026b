#include "image/verdict.h"

#include "core/text.h"

namespace sw {

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
            return fmt("{}({})", kind_name(kind), debug_quoted(text));
        case K::SizeMismatch:
            return fmt("SizeMismatch { expected: {}, actual: {} }", expected, actual);
        default:
            return std::string(kind_name(kind));
    }
}

}  // namespace sw
