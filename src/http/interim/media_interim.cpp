#include "http/interim/media_interim.h"

#include <gcrypt.h>

#include <algorithm>
#include <mutex>

#include "hex/hex.h"
#include "json/json.h"

namespace sw {

namespace {

constexpr std::string_view kMagic = "ORTIVEX-MEDIA-SIGNATURE-V1";

// Development release-signing key (public half).
constexpr uint8_t kPublicKey[32] = {
    0x06, 0x14, 0x3f, 0xbc, 0x58, 0x2e, 0xe1, 0x92, 0x89, 0x6e, 0x91, 0x93, 0x4c, 0xc3, 0x7c, 0x7c,
    0x4f, 0x01, 0xfe, 0x57, 0xc1, 0x52, 0xa2, 0x74, 0x25, 0x21, 0xdf, 0x4e, 0xed, 0x14, 0x31, 0x4a};

void init_gcrypt() {
    static std::once_flag once;
    std::call_once(once, [] {
        gcry_check_version(nullptr);
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    });
}

bool has_control_char(std::string_view s) {
    // Code points below U+0020 or in U+007F..U+009F (C2 80..C2 9F in UTF-8).
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7F) return true;
        if (c == 0xC2 && i + 1 < s.size()) {
            unsigned char d = static_cast<unsigned char>(s[i + 1]);
            if (d >= 0x80 && d <= 0x9F) return true;
        }
    }
    return false;
}

}  // namespace

Result<MediaManifest, std::string> parse_media_manifest(std::string_view text) {
    auto doc = parse_json(text);
    if (!doc) return unexpected(std::string("manifest is not JSON"));
    MediaManifest m;
    std::pair<const char*, std::string*> strings[] = {
        {"product", &m.product},           {"version", &m.version}, {"build", &m.build},
        {"architecture", &m.architecture}, {"channel", &m.channel}, {"created", &m.created}};
    for (auto& [name, field] : strings) {
        auto v = json_member_str(*doc, name);
        if (!v) return unexpected(std::string(name));
        *field = std::string(*v);
    }
    auto size = json_member_u64(*doc, "size");
    if (!size) return unexpected(std::string("size"));
    auto sha = json_member_str(*doc, "sha256");
    if (!sha) return unexpected(std::string("sha256"));
    auto offset = json_member_u64(*doc, "sums_offset");
    if (!offset) return unexpected(std::string("sums_offset"));
    auto len = json_member_u64(*doc, "sums_len");
    if (!len) return unexpected(std::string("sums_len"));
    if (m.product != "Ortivex") return unexpected(std::string("product"));
    if (sha->size() != 64 || !std::all_of(sha->begin(), sha->end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
        }))
        return unexpected(std::string("sha256"));
    if (*len != 4096 || *offset % 2048 != 0 || *offset >= UINT64_MAX - 4095 ||
        *size < *offset + 4096)
        return unexpected(std::string("sums_offset"));
    for (const std::string* f : {&m.version, &m.build, &m.architecture, &m.channel, &m.created}) {
        if (f->empty() || f->size() > 64 || has_control_char(*f))
            return unexpected(std::string("field"));
    }
    m.size = *size;
    m.sha256 = std::string(*sha);
    m.sums_offset = *offset;
    m.sums_len = *len;
    return m;
}

bool verify_manifest_signature(std::string_view manifest_line, std::span<const uint8_t> signature) {
    if (signature.size() != 64) return false;
    init_gcrypt();
    std::string message(kMagic);
    message += '\n';
    message += manifest_line;
    gcry_sexp_t key = nullptr, sig = nullptr, data = nullptr;
    bool ok =
        gcry_sexp_build(&key, nullptr, "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                        32, kPublicKey) == 0 &&
        gcry_sexp_build(&sig, nullptr, "(sig-val (eddsa (r %b) (s %b)))", 32, signature.data(), 32,
                        signature.data() + 32) == 0 &&
        gcry_sexp_build(&data, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                        static_cast<int>(message.size()), message.data()) == 0 &&
        gcry_pk_verify(sig, data, key) == 0;
    gcry_sexp_release(key);
    gcry_sexp_release(sig);
    gcry_sexp_release(data);
    return ok;
}

ImageHasher::ImageHasher(std::optional<std::pair<uint64_t, uint64_t>> capture_region)
    : md_(nullptr), region_(capture_region) {
    init_gcrypt();
    gcry_md_hd_t h = nullptr;
    gcry_md_open(&h, GCRY_MD_SHA256, 0);
    md_ = h;
}

ImageHasher::~ImageHasher() {
    if (md_ != nullptr) gcry_md_close(static_cast<gcry_md_hd_t>(md_));
}

ImageHasher::ImageHasher(ImageHasher&& other) noexcept
    : md_(std::exchange(other.md_, nullptr)),
      region_(other.region_),
      position_(other.position_),
      captured_(std::move(other.captured_)) {}

void ImageHasher::update(std::span<const uint8_t> bytes) {
    auto h = static_cast<gcry_md_hd_t>(md_);
    uint64_t p = position_;
    uint64_t n = bytes.size();
    position_ = p + n;
    if (!region_ || p + n <= region_->first || p >= region_->first + region_->second) {
        gcry_md_write(h, bytes.data(), bytes.size());
        return;
    }
    uint64_t s = region_->first > p ? region_->first - p : 0;
    uint64_t e = std::min(p + n, region_->first + region_->second) - p;
    static const uint8_t zeros[4096] = {};
    gcry_md_write(h, bytes.data(), s);
    captured_.insert(captured_.end(), bytes.begin() + s, bytes.begin() + e);
    for (uint64_t left = e - s; left > 0;) {
        size_t piece = static_cast<size_t>(std::min<uint64_t>(left, sizeof zeros));
        gcry_md_write(h, zeros, piece);
        left -= piece;
    }
    gcry_md_write(h, bytes.data() + e, n - e);
}

HashResult ImageHasher::finish() && {
    HashResult r;
    auto h = static_cast<gcry_md_hd_t>(md_);
    std::copy_n(gcry_md_read(h, GCRY_MD_SHA256), 32, r.digest.begin());
    r.captured_bytes = std::move(captured_);
    return r;
}

}  // namespace sw
