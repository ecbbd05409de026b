// descriptor IMAGE SECRET-KEY [--url URL] [--out FILE]
//
// Writes the release descriptor that the download service publishes beside
// the image ("OrtivexOS-Lastest.json" by default): the manifest line of the
// image's signature block, exactly as signed, its Ed25519 signature made with
// the secret key, and optionally the image's address. The image must pass the
// whole validation (structure, signature block, content hash) first, and its
// block must have been signed with the same key, so that a descriptor never
// vouches for an image that the program itself would refuse.
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

#include "commands.h"
#include "core/paths.h"
#include "core/text.h"
#include "hex/hex.h"
#include "http/descriptor.h"
#include "http/url.h"
#include "image/crypto.h"
#include "image/hashing.h"
#include "image/media_signature.h"
#include "image/validation.h"

namespace sw::mediatool {

namespace {

constexpr const char* kDescriptorUsage =
    "usage: ortivex-mediatool descriptor IMAGE SECRET-KEY [--url URL] [--out FILE]\n";

int descriptor_failed(const std::string& text) {
    std::fprintf(stderr, "descriptor: %s\n", text.c_str());
    return 1;
}

}  // namespace

int descriptor_command(const std::vector<std::string>& args) {
    if (args.size() < 2) {
        std::fputs(kDescriptorUsage, stderr);
        return 2;
    }
    std::optional<std::string> url;
    std::string out_path(kDescriptorName);
    for (size_t i = 2; i < args.size(); i += 2) {
        if (i + 1 >= args.size() || (args[i] != "--url" && args[i] != "--out")) {
            std::fputs(kDescriptorUsage, stderr);
            return 2;
        }
        if (args[i] == "--url") url = args[i + 1];
        if (args[i] == "--out") out_path = args[i + 1];
    }
    std::string reason;
    auto seed = read_secret_key(args[1], reason);
    if (!seed) {
        std::fprintf(stderr, "descriptor: %s\n", reason.c_str());
        return 2;
    }
    if (url && !parse_https_url(*url))
        return descriptor_failed("--url must be an https:// address: " + *url);

    auto image = open_image_file(args[0]);
    if (!image) return descriptor_failed(fmt("cannot open {}: {}", args[0], image.error()));
    auto inspection = inspect_image(**image);
    if (!inspection)
        return descriptor_failed("the image is refused: " + inspection.error().message());
    if (!inspection->is_signed()) return descriptor_failed("the image carries no signature block");
    std::atomic<bool> never{false};
    if (auto content = verify_image_content(**image, *inspection, never); !content)
        return descriptor_failed("the image is refused: " + content.error().message());

    auto block = parse_signature_block(inspection->block);
    if (!block || !*block) return descriptor_failed("the signature block cannot be read back");
    const std::string& manifest_line = (*block)->manifest_line;
    if (!verify_manifest_signature(ed25519_public_key(*seed), manifest_line, (*block)->signature))
        return descriptor_failed("the image was not signed with this key");
    std::string message = signed_message(manifest_line);
    Ed25519Signature signature = ed25519_sign(
        *seed, std::span(reinterpret_cast<const uint8_t*>(message.data()), message.size()));

    std::string text = "{\"media_manifest\":" + json_quoted(manifest_line) + ",\"signature\":\"" +
                       hex_encode(signature) + "\"";
    if (url) text += ",\"url\":" + json_quoted(*url);
    text += "}\n";

    // What this build's download job would make of it, on its default base.
    auto checked = check_release_descriptor(default_download_base(), text);
    if (!checked && checked.error() != DescriptorRefusal::UntrustedUrl)
        return descriptor_failed(
            fmt("this build would refuse the descriptor: {}", refusal_name(checked.error())));
    if (!checked) {
        std::fprintf(stderr,
                     "descriptor: note: %s is not on this build's download hosts; clients "
                     "accept it only under an overriding download base that it begins with\n",
                     url->c_str());
    }

    std::ofstream out(path_from_utf8(out_path), std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) return descriptor_failed("cannot write " + out_path);
    std::printf("%s %s\n", inspection->manifest->version.c_str(),
                inspection->manifest->sha256.c_str());
    return 0;
}

}  // namespace sw::mediatool
