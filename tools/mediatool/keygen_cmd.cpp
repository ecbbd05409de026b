// keygen PREFIX: a fresh Ed25519 key pair as hex text, PREFIX.secret (the
// 32-byte seed) and PREFIX.pub (the public key to build into the program).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "commands.h"
#include "core/paths.h"
#include "hex/hex.h"
#include "image/crypto.h"

namespace sw::mediatool {

int keygen_command(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fputs("usage: ortivex-mediatool keygen PREFIX\n", stderr);
        return 2;
    }
    auto secret_path = path_from_utf8(args[0] + ".secret");
    auto public_path = path_from_utf8(args[0] + ".pub");
    std::error_code ec;
    for (const auto& p : {secret_path, public_path}) {
        if (std::filesystem::exists(p, ec)) {
            std::fprintf(stderr, "refusing to overwrite %s\n", utf8_of(p).c_str());
            return 2;
        }
    }
    Ed25519Seed seed = ed25519_generate_seed();
    Ed25519PublicKey pub = ed25519_public_key(seed);
    {
        std::ofstream out(secret_path, std::ios::binary);
        out << hex_encode(seed) << '\n';
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", utf8_of(secret_path).c_str());
            return 2;
        }
    }
    // The seed is the whole private key: readable by its owner only.
    std::filesystem::permissions(
        secret_path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, ec);
    std::ofstream out(public_path, std::ios::binary);
    out << hex_encode(pub) << '\n';
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", utf8_of(public_path).c_str());
        return 2;
    }
    std::printf("%s\n", hex_encode(pub).c_str());
    return 0;
}

}  // namespace sw::mediatool
