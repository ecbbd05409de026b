#include "http/descriptor.h"

#include "core/text.h"
#include "hex/hex.h"
#include "http/url.h"
#include "json/json.h"
#include "core/system.h"

namespace sw {

std::string DownloadError::describe() const {
    switch (kind) {
        case Kind::Cancelled:
            return "Cancelled";
        case Kind::Corrupted:
            return "Corrupted";
        case Kind::TooLarge:
            return "TooLarge";
        case Kind::NoSpace:
            return "NoSpace";
        case Kind::Failed:
            break;
    }
    return fmt("Failed({})", message);
}

std::string_view refusal_name(DescriptorRefusal r) {
    switch (r) {
        case DescriptorRefusal::Malformed:
            return "Malformed";
        case DescriptorRefusal::BadSignature:
            return "BadSignature";
        case DescriptorRefusal::UntrustedUrl:
            break;
    }
    return "UntrustedUrl";
}

std::string default_download_base() {
    return fmt("https://{}/downloads/", configured_hosts().primary);
}

std::string choose_download_base(const std::optional<std::string>& override_value) {
    if (override_value && is_valid_download_base(*override_value)) return *override_value;
    return default_download_base();
}

std::string download_base() {
    return choose_download_base(platform::env_var(kDownloadBaseVariable));
}

Result<ReleaseInfo, DescriptorRefusal> check_release_descriptor(std::string_view base,
                                                                std::string_view text) {
    if (!is_valid_download_base(base)) return unexpected(DescriptorRefusal::UntrustedUrl);

    auto doc = parse_json(text);
    if (!doc) return unexpected(DescriptorRefusal::Malformed);
    auto manifest_text = json_member_str(*doc, "media_manifest");
    auto signature_text = json_member_str(*doc, "signature");
    if (!manifest_text || !signature_text || signature_text->size() % 2 != 0)
        return unexpected(DescriptorRefusal::Malformed);
    auto signature_bytes = hex_decode(*signature_text);
    if (!signature_bytes || signature_bytes->size() != 64)
        return unexpected(DescriptorRefusal::Malformed);
    Ed25519Signature signature{};
    std::copy(signature_bytes->begin(), signature_bytes->end(), signature.begin());

    if (!verify_manifest_signature(media_public_key(), *manifest_text, signature))
        return unexpected(DescriptorRefusal::BadSignature);
    auto manifest = parse_media_manifest(*manifest_text);
    if (!manifest) return unexpected(DescriptorRefusal::Malformed);

    std::string image_url = fmt("{}{}", base, kDefaultImageName);
    if (doc->object.contains("url")) {
        // A url member that is not a string cannot name the image.
        auto url = json_member_str(*doc, "url");
        if (!url) return unexpected(DescriptorRefusal::Malformed);
        image_url = std::string(*url);
    }
    bool trusted = is_trusted_image_url(image_url) ||
                   (image_url.starts_with(base) && parse_https_url(image_url).has_value());
    if (!trusted) return unexpected(DescriptorRefusal::UntrustedUrl);
    return ReleaseInfo{std::move(*manifest), std::move(image_url)};
}

std::string versioned_image_name(std::string_view version) {
    std::string name = "OrtivexOS-";
    for (size_t i = 0; i < version.size();) {
        unsigned char c = static_cast<unsigned char>(version[i]);
        bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '+' || c == '-' || c == '.' || c == '_';
        name += keep ? static_cast<char>(c) : '_';
        // One "_" per character: skip the continuation bytes of a UTF-8 sequence.
        size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        i += len;
    }
    return name + ".iso";
}

std::optional<VersionNumber> parse_version(std::string_view text) {
    std::string_view s = trim(text);
    while (s.starts_with('v'))
        s.remove_prefix(1);
    VersionNumber v;
    std::string_view core = s;
    if (size_t dash = s.find('-'); dash != std::string_view::npos) {
        v.pre_release = std::string(s.substr(dash + 1));
        core = s.substr(0, dash);
    }
    core = core.substr(0, core.find('+'));
    uint64_t* parts[] = {&v.major, &v.minor, &v.patch};
    size_t index = 0;
    size_t start = 0;
    while (true) {
        size_t dot = core.find('.', start);
        std::string_view component =
            core.substr(start, dot == std::string_view::npos ? dot : dot - start);
        if (index == 3 || component.empty()) return std::nullopt;
        // Digits only: no sign, no blank.
        if (component.front() < '0' || component.front() > '9') return std::nullopt;
        auto number = parse_u64_decimal(component);
        if (!number) return std::nullopt;
        *parts[index++] = *number;
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    return v;
}

std::optional<bool> is_newer_version(std::string_view remote, std::string_view own) {
    auto r = parse_version(remote);
    auto o = parse_version(own);
    if (!r || !o) return std::nullopt;
    if (r->major != o->major) return r->major > o->major;
    if (r->minor != o->minor) return r->minor > o->minor;
    if (r->patch != o->patch) return r->patch > o->patch;
    if (o->pre_release && !r->pre_release) return true;
    if (o->pre_release && r->pre_release) return *r->pre_release > *o->pre_release;
    return false;
}

std::string tool_release_url() {
    return fmt("https://{}/downloads/Ortivex-Stickwright.json", configured_hosts().primary);
}

}  // namespace sw
