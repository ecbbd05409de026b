// The verdict of a refused image: one kind from a closed set, each with its
// fixed message. Shared by the ISO reader, the signature block, hashing and
// validation.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sw {

struct ValidationError {
    enum class Kind {
        Io,
        NotIso,
        NotOrtivex,
        NotBootable,
        BadSignature,
        SizeMismatch,
        Corrupted,
        Malformed,
        Cancelled,
    };

    Kind kind = Kind::Io;
    std::string text;       // Io: the I/O error's text; Malformed: the reason
    uint64_t expected = 0;  // SizeMismatch only
    uint64_t actual = 0;    // SizeMismatch only

    static ValidationError io(std::string text) { return {Kind::Io, std::move(text)}; }
    static ValidationError malformed(std::string reason) {
        return {Kind::Malformed, std::move(reason)};
    }
    static ValidationError size_mismatch(uint64_t expected, uint64_t actual) {
        return {Kind::SizeMismatch, {}, expected, actual};
    }
    static ValidationError of(Kind kind) { return {kind, {}}; }

    // The fixed message shown to people, e.g. "size 90 differs from signed size 100".
    std::string message() const;
    // The diagnostic form for logs: the variant's name, `Io("...")`,
    // `Malformed("...")`, `SizeMismatch { expected: 100, actual: 90 }`.
    std::string debug() const;

    bool operator==(const ValidationError&) const = default;
};

std::string_view kind_name(ValidationError::Kind kind);

}  // namespace sw
