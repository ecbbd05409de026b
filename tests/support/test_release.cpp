#include "support/test_release.h"

#include <gcrypt.h>

#include <array>
#include <stdexcept>

#include "core/text.h"
#include "hex/hex.h"

namespace sw::test {

namespace {

// Development release-signing key (the private seed; public half built into development builds).
constexpr const char* kDevelopmentSeedHex =
    "e898f8df26c117006f7c660c2d4e1895ff4a3371064e71ba51b3fe1ce64b6a0e";

void init() {
    static bool done = [] {
        gcry_check_version(nullptr);
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)done;
}

std::string find_token(gcry_sexp_t sexp, const char* name) {
    gcry_sexp_t part = gcry_sexp_find_token(sexp, name, 0);
    size_t len = 0;
    const char* data = gcry_sexp_nth_data(part, 1, &len);
    std::string out(data, len);
    gcry_sexp_release(part);
    return out;
}

}  // namespace

std::string sha256_hex(std::string_view bytes) {
    init();
    std::array<uint8_t, 32> digest{};
    gcry_md_hash_buffer(GCRY_MD_SHA256, digest.data(), bytes.data(), bytes.size());
    return hex_encode(digest);
}

std::string sign_manifest_hex(std::string_view manifest_line) {
    init();
    auto seed = *hex_decode(kDevelopmentSeedHex);
    std::string message = "ORTIVEX-MEDIA-SIGNATURE-V1\n" + std::string(manifest_line);
    gcry_sexp_t key = nullptr, data = nullptr, sig = nullptr;
    if (gcry_sexp_build(&key, nullptr, "(private-key (ecc (curve Ed25519) (flags eddsa) (d %b)))",
                        32, seed.data()) != 0 ||
        gcry_sexp_build(&data, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                        static_cast<int>(message.size()), message.data()) != 0 ||
        gcry_pk_sign(&sig, data, key) != 0)
        throw std::runtime_error("signing failed");
    std::string r = find_token(sig, "r");
    std::string s = find_token(sig, "s");
    gcry_sexp_release(key);
    gcry_sexp_release(data);
    gcry_sexp_release(sig);
    std::string both = r + s;
    return hex_encode(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(both.data()), both.size()));
}

std::string json_quote(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string TestRelease::descriptor(const std::optional<std::string>& url) const {
    std::string out = "{\"media_manifest\": " + json_quote(manifest_line) +
                      ", \"signature\": " + json_quote(signature_hex);
    if (url) out += ", \"url\": " + json_quote(*url);
    return out + "}";
}

TestRelease make_test_release(uint64_t size, std::string_view version, uint64_t sums_offset,
                              uint32_t seed) {
    TestRelease r;
    r.image.resize(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& c : r.image) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x >> 24);
    }
    std::string zeroed = r.image;
    if (sums_offset + 4096 <= size) {
        std::string block = "ORTIVEX-MEDIA-SIGNATURE-V1\n(signature block of the test image)\n";
        block.resize(4096, ' ');
        r.image.replace(sums_offset, 4096, block);
        zeroed.replace(sums_offset, 4096, std::string(4096, '\0'));
    }
    r.sha256 = sha256_hex(zeroed);
    r.manifest_line = fmt(
        "{\"product\":\"Ortivex\",\"version\":{},\"build\":\"26100.1\",\"architecture\":\"x64\","
        "\"channel\":\"stable\",\"created\":\"2026-12-01T00:00:00Z\",\"size\":{},\"sha256\":\"{}\","
        "\"sums_offset\":{},\"sums_len\":4096}",
        json_quote(version), size, r.sha256, sums_offset);
    r.signature_hex = sign_manifest_hex(r.manifest_line);
    return r;
}

}  // namespace sw::test
