#include "image/media_signature.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/text.h"
#include "hex/hex.h"
#include "support/test_images.h"

namespace sw {
namespace {

std::span<const uint8_t> bytes_of(std::string_view s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

const std::string kSig128 = std::string(64, 'a') + std::string(64, 'B');

// A 4096-byte block: the given text, then a line of spaces to the end.
std::string block(const std::string& text, char pad = ' ') {
    std::string b = text;
    b.resize(4096, pad);
    return b;
}
std::string standard(const std::string& manifest, const std::string& sig_line) {
    return block("ORTIVEX-MEDIA-SIGNATURE-V1\n" + manifest + "\n" + sig_line + "\n");
}

using Parsed = Result<std::optional<ParsedSignatureBlock>, std::string>;
Parsed parse(const std::string& b) {
    return parse_signature_block(bytes_of(b));
}
std::string reason(const Parsed& p) {
    return p ? (*p ? "parsed" : "not a block") : p.error();
}

TEST(SignatureBlock, RecognisedBlockGivesManifestLineAndSignature) {
    auto p = parse(standard("{\"a\":1}\r", "ed25519 " + kSig128));
    ASSERT_TRUE(p && *p) << reason(p);
    EXPECT_EQ((*p)->manifest_line, "{\"a\":1}\r");  // a carriage return stays in the line
    EXPECT_EQ(hex_encode((*p)->signature), std::string(64, 'a') + std::string(64, 'b'));
    // Empty padding lines are allowed, and so is a block without padding lines.
    EXPECT_EQ(reason(parse(block("ORTIVEX-MEDIA-SIGNATURE-V1\nm\ned25519 " + kSig128 + "\n\n\n"))),
              "parsed");
    EXPECT_EQ(reason(parse(block("ORTIVEX-MEDIA-SIGNATURE-V1\nm\ned25519 " + kSig128, 'a')
                               .substr(0, 26 + 1 + 1 + 1 + 8 + 128))),
              "parsed");
}

TEST(SignatureBlock, UnrecognisedBlocksMeanUnsigned) {
    EXPECT_EQ(reason(parse(std::string(4096, '\0'))), "not a block");
    const std::string cr_magic = "ORTIVEX-MEDIA-SIGNATURE-V1\r\nm\ned25519 ";
    EXPECT_EQ(reason(parse(block(cr_magic + kSig128 + "\n"))),
              "not a block");  // magic line ends in a carriage return
    EXPECT_EQ(reason(parse("ortivex-media-signature-v1\nm\ned25519 " + kSig128)), "not a block");
    std::string bad_utf8 = standard("m", "ed25519 " + kSig128);
    bad_utf8[4000] = '\xff';
    EXPECT_EQ(reason(parse(bad_utf8)), "not a block");
    EXPECT_EQ(reason(parse("")), "not a block");
}

TEST(SignatureBlock, MalformedReasons) {
    const std::string magic = "ORTIVEX-MEDIA-SIGNATURE-V1";
    EXPECT_EQ(reason(parse(magic)), "manifest line");
    EXPECT_EQ(reason(parse(block(magic + "\nmanifest-without-signature"))), "signature line");
    EXPECT_EQ(reason(parse(standard("m", "ed2551"))), "signature line");
    EXPECT_EQ(reason(parse(standard("m", "ED25519 " + kSig128))), "signature line");
    EXPECT_EQ(reason(parse(standard("m", "ed25519:" + kSig128))), "signature line");
    EXPECT_EQ(reason(parse(standard("m", "ed25519 " + kSig128.substr(0, 127)))), "signature hex");
    EXPECT_EQ(reason(parse(standard("m", "ed25519 " + kSig128.substr(0, 126)))),
              "signature length");
    EXPECT_EQ(reason(parse(standard("m", "ed25519 " + kSig128 + "00"))), "signature length");
    EXPECT_EQ(reason(parse(standard("m", "ed25519 " + kSig128.substr(0, 126) + "g0"))),
              "signature hex");
    EXPECT_EQ(reason(parse(standard("m", "ed25519 " + kSig128 + " "))), "signature hex");
    // Padding of zero bytes instead of spaces, or any other byte after line 3.
    EXPECT_EQ(reason(parse(block(magic + "\nm\ned25519 " + kSig128 + "\n", '\0'))),
              "trailing data");
    EXPECT_EQ(reason(parse(block(magic + "\nm\ned25519 " + kSig128 + "\n  \n x\n"))),
              "trailing data");
    EXPECT_EQ(reason(parse(block(magic + "\nm\ned25519 " + kSig128 + "\n\t"))), "trailing data");
}

std::string manifest(const std::string& replace_key = "", const std::string& value = "",
                     bool drop = false) {
    const std::pair<std::string, std::string> members[] = {
        {"product", "\"Ortivex\""}, {"version", "\"24.10.3118\""},
        {"build", "\"3118\""},      {"architecture", "\"x86_64\""},
        {"channel", "\"stable\""},  {"created", "\"2026-12-01T00:00:00Z\""},
        {"size", "1048576"},        {"sha256", fmt("\"{}\"", std::string(64, 'c'))},
        {"sums_offset", "40960"},   {"sums_len", "4096"},
    };
    std::string out = "{";
    for (const auto& [k, v] : members) {
        if (k == replace_key && drop) continue;
        if (out.size() > 1) out += ",";
        out += fmt("\"{}\":{}", k, k == replace_key ? value : v);
    }
    return out + ",\"extra\":[1,2]}";
}

std::string manifest_reason(const std::string& text) {
    auto m = parse_media_manifest(text);
    return m ? "ok" : m.error();
}

TEST(MediaManifest, AcceptedManifest) {
    auto m = parse_media_manifest(manifest());
    ASSERT_TRUE(m) << m.error();
    EXPECT_EQ(m->product, "Ortivex");
    EXPECT_EQ(m->version, "24.10.3118");
    EXPECT_EQ(m->build, "3118");
    EXPECT_EQ(m->architecture, "x86_64");
    EXPECT_EQ(m->channel, "stable");
    EXPECT_EQ(m->created, "2026-12-01T00:00:00Z");
    EXPECT_EQ(m->size, 1048576u);
    EXPECT_EQ(m->sums_offset, 40960u);
    EXPECT_EQ(m->sums_len, 4096u);
    Sha256Digest d{};
    d.fill(0xcc);
    EXPECT_EQ(m->digest(), d);
    // Sizes at the limits: the block may end exactly at the image's end.
    EXPECT_EQ(manifest_reason(manifest("size", "45056")), "ok");
    EXPECT_EQ(manifest_reason(manifest("version", fmt("\"{}\"", std::string(64, 'v')))), "ok");
    EXPECT_EQ(manifest_reason(manifest("version", "\"caf\u00e9 \\u00a0\"")), "ok");
}

TEST(MediaManifest, EveryReasonInItsOrder) {
    struct Case {
        std::string text;
        const char* reason;
    };
    const Case cases[] = {
        {"{", "manifest is not JSON"},
        {manifest() + " x", "manifest is not JSON"},
        {"[]", "product"},
        {manifest("product", "", true), "product"},
        {manifest("product", "1"), "product"},
        {manifest("version", "", true), "version"},
        {manifest("build", "null"), "build"},
        {manifest("architecture", "[\"x\"]"), "architecture"},
        {manifest("channel", "", true), "channel"},
        {manifest("created", "2026"), "created"},
        {manifest("size", "", true), "size"},
        {manifest("size", "1.0e9"), "size"},
        {manifest("size", "-1"), "size"},
        {manifest("size", "\"1048576\""), "size"},
        {manifest("size", "18446744073709551616"), "size"},
        {manifest("sha256", "", true), "sha256"},
        {manifest("sha256", "7"), "sha256"},
        {manifest("sums_offset", "", true), "sums_offset"},
        {manifest("sums_offset", "4.096e4"), "sums_offset"},
        {manifest("sums_len", "", true), "sums_len"},
        {manifest("sums_len", "4096.0"), "sums_len"},
        {manifest().replace(12, 7, "ortivex"), "product"},
        {manifest("product", "\"OrtivexOS\""), "product"},
        {manifest("sha256", fmt("\"{}\"", std::string(64, 'C'))), "sha256"},
        {manifest("sha256", fmt("\"{}\"", std::string(63, 'c'))), "sha256"},
        {manifest("sha256", fmt("\"{}g\"", std::string(63, 'c'))), "sha256"},
        {manifest("sums_len", "2048"), "sums_offset"},
        {manifest("sums_offset", "40961"), "sums_offset"},
        {manifest("sums_offset", "18446744073709549568"), "sums_offset"},  // 2^64 - 2048
        {manifest("sums_offset", "18446744073709547520"), "sums_offset"},  // 2^64 - 4096
        {manifest("size", "45055"), "sums_offset"},
        {manifest("version", "\"\""), "field"},
        {manifest("build", fmt("\"{}\"", std::string(65, 'b'))), "field"},
        {manifest("architecture", "\"x\\u0009\""), "field"},
        {manifest("channel", "\"x\\u007f\""), "field"},
        {manifest("created", "\"x\\u0085\""), "field"},
        {manifest("created", "\"x\\u009f\""), "field"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(manifest_reason(c.text), c.reason) << c.text;
    }
    // The kind checks run before the value checks.
    std::string both = manifest("product", "\"Other\"");
    both = both.replace(both.find("\"size\":1048576"), 14, "\"size\":\"x\"");
    EXPECT_EQ(manifest_reason(both), "size");
    EXPECT_EQ(manifest_reason(
                  manifest("sha256", fmt("\"{}\"", std::string(64, 'C')))
                      .replace(manifest().find("\"sums_len\":4096"), 15, "\"sums_len\":2048")),
              "sha256");
}

TEST(ManifestSignature, SignedMessageAndBuiltInKey) {
    EXPECT_EQ(signed_message("{}"), "ORTIVEX-MEDIA-SIGNATURE-V1\n{}");
    Ed25519Seed seed = test::development_seed();
    const std::string line = manifest();
    std::string message = signed_message(line);
    Ed25519Signature sig = ed25519_sign(seed, bytes_of(message));
    EXPECT_TRUE(verify_manifest_signature(ed25519_public_key(seed), line, sig));
    EXPECT_FALSE(verify_manifest_signature(ed25519_public_key(seed), line + " ", sig));
    // A signature over the message with a final line feed is a different one.
    EXPECT_FALSE(verify_manifest_signature(ed25519_public_key(seed), line,
                                           ed25519_sign(seed, bytes_of(message + "\n"))));
    if (!media_key_is_development()) {
        GTEST_SKIP() << "built with a vendor key: the development key cannot sign for it";
    }
    EXPECT_EQ(media_public_key(), ed25519_public_key(seed));
    EXPECT_TRUE(verify_manifest_signature(media_public_key(), line, sig));
    std::string changed = line;
    changed[10] ^= 1;  // even a change that breaks the JSON is a signature failure first
    EXPECT_FALSE(verify_manifest_signature(media_public_key(), changed, sig));
}

TEST(InformationalManifest, VersionOnlyFromAReadableJsonFile) {
    std::string bytes = test::load_test_image("unsigned.iso");
    MemoryImageReader reader(bytes);
    auto layout = read_image_layout(reader);
    ASSERT_TRUE(layout);
    EXPECT_EQ(read_manifest_version(reader, *layout), "24.10.3118-rc1");

    const std::string_view path[] = {"ortivex", "manifest.json"};
    auto found = find_image_file(reader, *layout, path);
    ASSERT_TRUE(found && *found);
    uint64_t at = (*found)->offset;
    auto with_content = [&](const std::string& json) {
        std::string copy = bytes;
        copy.replace(at, json.size(), json);
        MemoryImageReader r(copy);
        return read_manifest_version(r, *layout);
    };
    // The file keeps its recorded size (49 bytes); pad the JSON with spaces.
    auto padded = [&](std::string json) {
        json.resize((*found)->size, ' ');
        return json;
    };
    EXPECT_EQ(with_content(padded("{\"version\":\"1.2.3\"}")), "1.2.3");
    EXPECT_EQ(with_content(padded("{\"version\":123}")), std::nullopt);
    EXPECT_EQ(with_content(padded("{\"version\":\"1.2.3\"")), std::nullopt);
    EXPECT_EQ(with_content(padded("{\"v\":\"\xff\"}")), std::nullopt);
    EXPECT_EQ(with_content(padded("[\"version\"]")), std::nullopt);

    // Without the file, or when it cannot be read, there is no version.
    std::string cut = bytes.substr(0, at + 10);
    MemoryImageReader short_reader(cut);
    EXPECT_EQ(read_manifest_version(short_reader, *layout), std::nullopt);
    std::string signed_bytes = test::load_test_image("deep.iso");
    MemoryImageReader deep(signed_bytes);
    auto deep_layout = read_image_layout(deep);
    ASSERT_TRUE(deep_layout);
    EXPECT_EQ(read_manifest_version(deep, *deep_layout), std::nullopt);
}

TEST(InformationalManifest, AtMost64KiB) {
    // Give "ortivex/manifest.json" a recorded size of 65,536 and 65,537 bytes
    // and fill that much of the image with JSON padded by spaces.
    std::string bytes = test::load_test_image("unsigned.iso");
    MemoryImageReader reader(bytes);
    auto layout = read_image_layout(reader);
    ASSERT_TRUE(layout);
    auto root = read_directory(reader, layout->root_offset, layout->root_size, 0);
    ASSERT_TRUE(root);
    auto dir = std::find_if(root->begin(), root->end(),
                            [](const DirectoryEntry& e) { return e.name == "ortivex"; });
    ASSERT_NE(dir, root->end());
    uint64_t record = 0;
    for (uint64_t pos = dir->offset; pos < dir->offset + dir->size && bytes[pos] != 0;
         pos += static_cast<uint8_t>(bytes[pos])) {
        std::string_view rec =
            std::string_view(bytes).substr(pos, static_cast<uint8_t>(bytes[pos]));
        if (rec.find("manifest.json") != std::string_view::npos) record = pos;
    }
    ASSERT_NE(record, 0u);
    const uint64_t at = static_cast<uint8_t>(bytes[record + 2]) * 2048ull +
                        static_cast<uint8_t>(bytes[record + 3]) * 2048ull * 256;
    auto with_size = [&](uint32_t size) {
        std::string copy = bytes;
        std::string json = "{\"version\":\"7.7.7\"}";
        json.resize(size, ' ');
        copy.replace(at, json.size(), json);
        for (int i = 0; i < 4; ++i) {
            copy[record + 10 + i] = static_cast<char>(size >> (8 * i));
            copy[record + 17 - i] = static_cast<char>(size >> (8 * i));
        }
        MemoryImageReader r(copy);
        return read_manifest_version(r, *layout);
    };
    EXPECT_EQ(with_size(65536), "7.7.7");
    EXPECT_EQ(with_size(65537), std::nullopt);
}

}  // namespace
}  // namespace sw
