#include "support/test_release.h"

#include <algorithm>

#include "core/text.h"
#include "hex/hex.h"
#include "image/media_signature.h"
#include "support/temp_dir.h"

namespace sw::test {

std::string sha256_hex(std::string_view bytes) {
    return hex_encode(sha256_in_process(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())));
}

std::string sign_manifest_hex(std::string_view manifest_line, const Ed25519Seed& seed) {
    std::string message = signed_message(manifest_line);
    return hex_encode(
        ed25519_sign(seed, std::span<const uint8_t>(
                               reinterpret_cast<const uint8_t*>(message.data()), message.size())));
}

std::optional<Ed25519Seed> read_seed_file(const std::filesystem::path& file) {
    auto bytes = hex_decode(trim(read_file(file)));
    if (!bytes || bytes->size() != 32) return std::nullopt;
    Ed25519Seed seed{};
    std::copy(bytes->begin(), bytes->end(), seed.begin());
    return seed;
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

TestRelease make_test_release(uint64_t size, std::string_view version, const Ed25519Seed& seed,
                              uint64_t sums_offset, uint32_t pattern) {
    TestRelease r;
    r.image.resize(size);
    uint32_t x = pattern * 2654435761u + 1;
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
    r.signature_hex = sign_manifest_hex(r.manifest_line, seed);
    return r;
}

}  // namespace sw::test
