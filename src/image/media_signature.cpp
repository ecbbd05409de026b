#include "image/media_signature.h"

#include <algorithm>

#include "core/text.h"
#include "hex/hex.h"
#include "image/media_key.h"
#include "json/json.h"

namespace sw {

namespace {

constexpr std::string_view kSignaturePrefix = "ed25519 ";
constexpr std::string_view kOrtivexDir = "ortivex";
constexpr uint64_t kMaxFieldBytes = 64;

bool is_lower_hex(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// A code point below U+0020 or in U+007F..U+009F, in valid UTF-8 text.
bool has_control_character(std::string_view s) {
    for (size_t i = 0; i < s.size(); ++i) {
        auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x20 || b == 0x7f) return true;
        if (b == 0xc2 && i + 1 < s.size()) {
            auto n = static_cast<unsigned char>(s[i + 1]);
            if (n >= 0x80 && n <= 0x9f) return true;
        }
    }
    return false;
}

bool field_ok(std::string_view s) {
    return !s.empty() && s.size() <= kMaxFieldBytes && !has_control_character(s);
}

}  // namespace

Sha256Digest MediaManifest::digest() const {
    Sha256Digest d{};
    if (auto bytes = hex_decode(sha256); bytes && bytes->size() == d.size()) {
        std::copy(bytes->begin(), bytes->end(), d.begin());
    }
    return d;
}

Result<std::optional<SignatureBlock>, ValidationError> read_signature_block(
    const ImageReader& image, const ImageLayout& layout) {
    const std::string_view path[] = {kOrtivexDir, "MEDIA.SUMS"};
    auto found = find_image_file(image, layout, path);
    if (!found) return unexpected(ValidationError::io(found.error()));
    if (!*found || (*found)->size != kSignatureBlockBytes) return std::optional<SignatureBlock>{};
    SignatureBlock block;
    block.offset = (*found)->offset;
    block.bytes.resize(kSignatureBlockBytes);
    if (auto r = image.read_at(block.offset, block.bytes); !r) {
        return unexpected(ValidationError::io(r.error().text));
    }
    return std::optional<SignatureBlock>{std::move(block)};
}

Result<std::optional<ParsedSignatureBlock>, std::string> parse_signature_block(
    std::span<const uint8_t> bytes) {
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!is_valid_utf8(text)) return std::optional<ParsedSignatureBlock>{};

    // Lines separated by a single line feed; a carriage return stays in its line.
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (true) {
        size_t nl = text.find('\n', start);
        if (nl == std::string_view::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    if (lines[0] != kMediaSignatureMagic) return std::optional<ParsedSignatureBlock>{};
    if (lines.size() < 2) return unexpected(std::string("manifest line"));
    if (lines.size() < 3 || lines[2].size() < kSignaturePrefix.size() ||
        !lines[2].starts_with(kSignaturePrefix)) {
        return unexpected(std::string("signature line"));
    }
    std::string_view hex = lines[2].substr(kSignaturePrefix.size());
    if (hex.size() % 2 != 0) return unexpected(std::string("signature hex"));
    auto sig = hex_decode(hex);
    if (!sig) return unexpected(std::string("signature hex"));
    if (sig->size() != 64) return unexpected(std::string("signature length"));
    for (size_t i = 3; i < lines.size(); ++i) {
        if (lines[i].find_first_not_of(' ') != std::string_view::npos) {
            return unexpected(std::string("trailing data"));
        }
    }
    ParsedSignatureBlock parsed;
    parsed.manifest_line = std::string(lines[1]);
    std::copy(sig->begin(), sig->end(), parsed.signature.begin());
    return std::optional<ParsedSignatureBlock>{std::move(parsed)};
}

std::string signed_message(std::string_view manifest_line) {
    std::string message(kMediaSignatureMagic);
    message += '\n';
    message += manifest_line;
    return message;
}

bool verify_manifest_signature(const Ed25519PublicKey& key, std::string_view manifest_line,
                               const Ed25519Signature& signature) {
    std::string message = signed_message(manifest_line);
    return ed25519_verify(
        key, std::span(reinterpret_cast<const uint8_t*>(message.data()), message.size()),
        signature);
}

Result<MediaManifest, std::string> parse_media_manifest(std::string_view text) {
    auto doc = parse_json(text);
    if (!doc) return unexpected(std::string("manifest is not JSON"));
    const JsonValue& v = *doc;

    MediaManifest m;
    struct TextMember {
        const char* name;
        std::string* field;
    };
    const TextMember texts[] = {
        {"product", &m.product},           {"version", &m.version}, {"build", &m.build},
        {"architecture", &m.architecture}, {"channel", &m.channel}, {"created", &m.created},
    };
    for (const auto& t : texts) {
        auto s = json_member_str(v, t.name);
        if (!s) return unexpected(std::string(t.name));
        *t.field = std::string(*s);
    }
    auto size = json_member_u64(v, "size");
    if (!size) return unexpected(std::string("size"));
    m.size = *size;
    auto sha = json_member_str(v, "sha256");
    if (!sha) return unexpected(std::string("sha256"));
    m.sha256 = std::string(*sha);
    auto sums_offset = json_member_u64(v, "sums_offset");
    if (!sums_offset) return unexpected(std::string("sums_offset"));
    m.sums_offset = *sums_offset;
    auto sums_len = json_member_u64(v, "sums_len");
    if (!sums_len) return unexpected(std::string("sums_len"));
    m.sums_len = *sums_len;

    if (m.product != "Ortivex") return unexpected(std::string("product"));
    if (m.sha256.size() != 64 || !is_lower_hex(m.sha256)) return unexpected(std::string("sha256"));
    if (m.sums_len != kSignatureBlockBytes || m.sums_offset % kIsoBlockSize != 0 ||
        m.sums_offset >= UINT64_MAX - kSignatureBlockBytes + 1 ||
        m.size < m.sums_offset + kSignatureBlockBytes) {
        return unexpected(std::string("sums_offset"));
    }
    for (const std::string* f : {&m.version, &m.build, &m.architecture, &m.channel, &m.created}) {
        if (!field_ok(*f)) return unexpected(std::string("field"));
    }
    return m;
}

std::optional<std::string> read_manifest_version(const ImageReader& image,
                                                 const ImageLayout& layout) {
    const std::string_view path[] = {kOrtivexDir, "manifest.json"};
    auto found = find_image_file(image, layout, path);
    if (!found || !*found || (*found)->size > kMaxInformationalManifestBytes) return std::nullopt;
    std::string bytes((*found)->size, '\0');
    if (!image.read_at((*found)->offset,
                       std::span(reinterpret_cast<uint8_t*>(bytes.data()), bytes.size()))) {
        return std::nullopt;
    }
    if (!is_valid_utf8(bytes)) return std::nullopt;
    auto doc = parse_json(bytes);
    if (!doc) return std::nullopt;
    auto version = json_member_str(*doc, "version");
    if (!version) return std::nullopt;
    return std::string(*version);
}

const Ed25519PublicKey& media_public_key() {
    return kMediaPublicKey;
}

bool media_key_is_development() {
    return kMediaKeyIsDevelopment;
}

}  // namespace sw
