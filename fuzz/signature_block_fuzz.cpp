// The media signature block parser, and the signature check on what it
// accepts. A parsed block must be exactly what the line rules describe.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/text.h"
#include "hex/hex.h"
#include "image/media_signature.h"

namespace {
void check(bool ok) {
    if (!ok) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> bytes(data, size);
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto parsed = sw::parse_signature_block(bytes);
    if (!parsed) {
        // A malformed block was recognised: valid UTF-8 beginning with the magic line.
        check(text.starts_with(std::string(sw::kMediaSignatureMagic)));
        check(sw::is_valid_utf8(text));
        return 0;
    }
    if (!*parsed) return 0;
    const auto& block = **parsed;
    std::string head =
        std::string(sw::kMediaSignatureMagic) + "\n" + block.manifest_line + "\n" + "ed25519 ";
    check(text.starts_with(head));
    check(block.manifest_line.find('\n') == std::string::npos);
    // The signature text is the rest of line 3, either case.
    std::string_view rest = text.substr(head.size());
    std::string_view sig_text = rest.substr(0, rest.find('\n'));
    check(sw::ascii_lower(sig_text) == sw::hex_encode(block.signature));
    // Everything after line 3 is spaces and line feeds.
    if (rest.size() > sig_text.size()) {
        check(rest.substr(sig_text.size()).find_first_not_of(" \n") == std::string_view::npos);
    }
    (void)sw::verify_manifest_signature(block.manifest_line, block.signature);
    return 0;
}
