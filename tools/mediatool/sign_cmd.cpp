// sign IMAGE SECRET --version V --build B --architecture A --channel C --created T
//
// Writes the media signature block into the placeholder file
// "ortivex/MEDIA.SUMS" (4096 bytes, mastered into the image beforehand):
// the SHA-256 of the whole image with those 4096 bytes as zeros goes into the
// manifest, the manifest line is signed, and the block is written in place.
// Prints the digest.
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <string>

#include "commands.h"
#include "core/paths.h"
#include "core/text.h"
#include "hex/hex.h"
#include "image/crypto.h"
#include "image/hashing.h"
#include "image/iso9660.h"
#include "image/media_signature.h"

namespace sw::mediatool {

namespace {

constexpr const char* kSignUsage =
    "usage: ortivex-mediatool sign IMAGE SECRET-KEY --version V --build B "
    "--architecture A --channel C --created T\n";

int sign_failed(const std::string& text) {
    std::fprintf(stderr, "sign: %s\n", text.c_str());
    return 1;
}

}  // namespace

std::optional<Ed25519Seed> read_secret_key(const std::string& path, std::string& reason) {
    std::ifstream in(path_from_utf8(path), std::ios::binary);
    if (!in) {
        reason = "cannot read " + path;
        return std::nullopt;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto bytes = hex_decode(trim(text));
    if (!bytes || bytes->size() != 32) {
        reason = path + " does not hold 64 hexadecimal digits";
        return std::nullopt;
    }
    Ed25519Seed seed{};
    std::copy(bytes->begin(), bytes->end(), seed.begin());
    return seed;
}

int sign_command(const std::vector<std::string>& args) {
    if (args.size() < 2) {
        std::fputs(kSignUsage, stderr);
        return 2;
    }
    std::map<std::string, std::string> fields;
    const char* names[] = {"version", "build", "architecture", "channel", "created"};
    for (size_t i = 2; i < args.size(); i += 2) {
        bool known = false;
        for (const char* n : names)
            known = known || args[i] == std::string("--") + n;
        if (!known || i + 1 >= args.size()) {
            std::fputs(kSignUsage, stderr);
            return 2;
        }
        fields[args[i].substr(2)] = args[i + 1];
    }
    for (const char* n : names) {
        if (!fields.count(n)) {
            std::fprintf(stderr, "sign: --%s is required\n", n);
            return 2;
        }
    }
    std::string reason;
    auto seed = read_secret_key(args[1], reason);
    if (!seed) {
        std::fprintf(stderr, "sign: %s\n", reason.c_str());
        return 2;
    }

    const std::string& image_path = args[0];
    uint64_t block_offset = 0;
    uint64_t image_size = 0;
    std::string digest_hex;
    {
        auto image = open_image_file(image_path);
        if (!image) return sign_failed(fmt("cannot open {}: {}", image_path, image.error()));
        auto layout = read_image_layout(**image);
        if (!layout) return sign_failed(layout.error().message());
        const std::string_view path[] = {"ortivex", "MEDIA.SUMS"};
        auto found = find_image_file(**image, *layout, path);
        if (!found) return sign_failed(fmt("ortivex/MEDIA.SUMS: {}", found.error()));
        if (!*found) return sign_failed("the image has no placeholder file ortivex/MEDIA.SUMS");
        if ((*found)->size != kSignatureBlockBytes) {
            return sign_failed(fmt("ortivex/MEDIA.SUMS is {} bytes, not 4096", (*found)->size));
        }
        block_offset = (*found)->offset;
        image_size = (*image)->size();

        ImageHasher hasher(CaptureRegion{block_offset, kSignatureBlockBytes});
        std::vector<uint8_t> buffer(kContentChunkBytes);
        for (uint64_t done = 0; done < image_size;) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), image_size - done));
            std::span<uint8_t> chunk(buffer.data(), n);
            if (auto r = (*image)->read_at(done, chunk); !r) {
                return sign_failed(fmt("read error: {}", r.error().text));
            }
            hasher.update(chunk);
            done += n;
        }
        digest_hex = hex_encode(std::move(hasher).finish().digest);
    }

    std::string manifest = fmt(
        "{\"product\":\"Ortivex\",\"version\":{},\"build\":{},\"architecture\":{},"
        "\"channel\":{},\"created\":{},\"size\":{},\"sha256\":\"{}\",\"sums_offset\":{},"
        "\"sums_len\":{}}",
        json_quoted(fields["version"]), json_quoted(fields["build"]),
        json_quoted(fields["architecture"]), json_quoted(fields["channel"]),
        json_quoted(fields["created"]), image_size, digest_hex, block_offset, kSignatureBlockBytes);
    if (auto m = parse_media_manifest(manifest); !m) {
        return sign_failed(fmt("the manifest would be refused: {}", m.error()));
    }
    std::string message = signed_message(manifest);
    Ed25519Signature sig = ed25519_sign(
        *seed, std::span(reinterpret_cast<const uint8_t*>(message.data()), message.size()));

    std::string block = message + "\ned25519 " + hex_encode(sig) + "\n";
    if (block.size() > kSignatureBlockBytes - 1)
        return sign_failed("the manifest is too long for the block");
    block.append(kSignatureBlockBytes - 1 - block.size(), ' ');
    block += '\n';

    std::fstream out(path_from_utf8(image_path), std::ios::in | std::ios::out | std::ios::binary);
    out.seekp(static_cast<std::streamoff>(block_offset));
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
    out.flush();
    if (!out) return sign_failed(fmt("cannot write the block into {}", image_path));
    std::printf("%s\n", digest_hex.c_str());
    return 0;
}

}  // namespace sw::mediatool
