#include "image/crypto.h"

#include <gcrypt.h>

#include <cstring>
#include <mutex>

#include "runtime/thread.h"

namespace sw {

namespace {

// The group order L = 2^252 + 27742317777372353535851937790883648493, little-endian.
constexpr std::array<uint8_t, 32> kGroupOrder = {
    0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7, 0xa2, 0xde, 0xf9, 0xde, 0x14,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10};

// An S-expression that frees itself.
struct Sexp {
    gcry_sexp_t p = nullptr;
    Sexp() = default;
    explicit Sexp(gcry_sexp_t s) : p(s) {}
    ~Sexp() { gcry_sexp_release(p); }
    Sexp(const Sexp&) = delete;
    Sexp& operator=(const Sexp&) = delete;
};

// The bytes of the token `name` inside `s`, left-padded with zeros to `n`
// bytes (libgcrypt may drop leading zero bytes of a number).
bool token_bytes(gcry_sexp_t s, const char* name, uint8_t* out, size_t n) {
    Sexp tok(gcry_sexp_find_token(s, name, 0));
    if (tok.p == nullptr) return false;
    size_t len = 0;
    const char* data = gcry_sexp_nth_data(tok.p, 1, &len);
    if (data == nullptr) return false;
    // A public point may carry the 0x40 prefix of libgcrypt's native form.
    if (len == n + 1 && static_cast<uint8_t>(data[0]) == 0x40) {
        ++data;
        --len;
    }
    if (len > n) return false;
    std::memset(out, 0, n - len);
    std::memcpy(out + (n - len), data, len);
    return true;
}

Sexp data_sexp(std::span<const uint8_t> message) {
    gcry_sexp_t s = nullptr;
    gcry_sexp_build(&s, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                    static_cast<int>(message.size()), message.data());
    return Sexp(s);
}

class GcryptSha256 final : public Sha256Engine {
  public:
    GcryptSha256() {
        ensure_crypto_initialised();
        if (gcry_md_open(&md_, GCRY_MD_SHA256, 0) != 0) fatal("SHA-256 is not available");
    }
    ~GcryptSha256() override { gcry_md_close(md_); }
    GcryptSha256(const GcryptSha256&) = delete;
    GcryptSha256& operator=(const GcryptSha256&) = delete;

    void update(std::span<const uint8_t> bytes) override {
        gcry_md_write(md_, bytes.data(), bytes.size());
    }
    Sha256Digest finish() override {
        Sha256Digest d{};
        std::memcpy(d.data(), gcry_md_read(md_, GCRY_MD_SHA256), d.size());
        return d;
    }

  private:
    gcry_md_hd_t md_ = nullptr;
};

}  // namespace

void ensure_crypto_initialised() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (gcry_check_version(GCRYPT_VERSION) == nullptr) fatal("libgcrypt version mismatch");
        // Only public keys and hashes pass through here (and the media tool's
        // own signing key, which lives in an ordinary file anyway).
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    });
}

bool ed25519_scalar_is_canonical(std::span<const uint8_t, 32> s) {
    for (int i = 31; i >= 0; --i) {
        if (s[i] != kGroupOrder[i]) return s[i] < kGroupOrder[i];
    }
    return false;  // equal to L
}

namespace detail {
bool gcrypt_ed25519_verify(const Ed25519PublicKey& key, std::span<const uint8_t> message,
                           const Ed25519Signature& signature) {
    ensure_crypto_initialised();
    gcry_sexp_t k = nullptr, sig = nullptr;
    if (gcry_sexp_build(&k, nullptr, "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))", 32,
                        key.data()) != 0) {
        return false;
    }
    Sexp key_sexp(k);
    if (gcry_sexp_build(&sig, nullptr, "(sig-val (eddsa (r %b) (s %b)))", 32, signature.data(), 32,
                        signature.data() + 32) != 0) {
        return false;
    }
    Sexp sig_sexp(sig);
    Sexp data = data_sexp(message);
    if (data.p == nullptr) return false;
    return gcry_pk_verify(sig_sexp.p, data.p, key_sexp.p) == 0;
}
}  // namespace detail

bool ed25519_verify(const Ed25519PublicKey& key, std::span<const uint8_t> message,
                    const Ed25519Signature& signature) {
    if (!ed25519_scalar_is_canonical(std::span<const uint8_t, 32>(signature.data() + 32, 32))) {
        return false;
    }
    return detail::gcrypt_ed25519_verify(key, message, signature);
}

Ed25519Signature ed25519_sign(const Ed25519Seed& seed, std::span<const uint8_t> message) {
    ensure_crypto_initialised();
    Ed25519PublicKey pub = ed25519_public_key(seed);
    gcry_sexp_t k = nullptr;
    if (gcry_sexp_build(&k, nullptr,
                        "(private-key (ecc (curve Ed25519) (flags eddsa) (q %b) (d %b)))", 32,
                        pub.data(), 32, seed.data()) != 0) {
        fatal("Ed25519 key could not be built");
    }
    Sexp key(k);
    Sexp data = data_sexp(message);
    gcry_sexp_t s = nullptr;
    if (data.p == nullptr || gcry_pk_sign(&s, data.p, key.p) != 0) fatal("Ed25519 signing failed");
    Sexp sig(s);
    Ed25519Signature out{};
    if (!token_bytes(sig.p, "r", out.data(), 32) || !token_bytes(sig.p, "s", out.data() + 32, 32)) {
        fatal("Ed25519 signature has an unexpected form");
    }
    return out;
}

Ed25519PublicKey ed25519_public_key(const Ed25519Seed& seed) {
    ensure_crypto_initialised();
    // libgcrypt derives the public point from a private key given without one.
    gcry_sexp_t k = nullptr;
    if (gcry_sexp_build(&k, nullptr, "(private-key (ecc (curve Ed25519) (flags eddsa) (d %b)))", 32,
                        seed.data()) != 0) {
        fatal("Ed25519 key could not be built");
    }
    Sexp key(k);
    gcry_ctx_t ctx = nullptr;
    if (gcry_mpi_ec_new(&ctx, key.p, nullptr) != 0) fatal("Ed25519 context failed");
    Ed25519PublicKey pub{};
    gcry_mpi_t q = gcry_mpi_ec_get_mpi("q@eddsa", ctx, 1);
    bool ok = false;
    if (q != nullptr) {
        unsigned int nbits = 0;
        auto* p = static_cast<const uint8_t*>(gcry_mpi_get_opaque(q, &nbits));
        size_t len = (nbits + 7) / 8;
        if (p != nullptr && len == 33 && p[0] == 0x40) {
            ++p;
            --len;
        }
        if (p != nullptr && len == 32) {
            std::memcpy(pub.data(), p, 32);
            ok = true;
        }
        gcry_mpi_release(q);
    }
    gcry_ctx_release(ctx);
    if (!ok) fatal("Ed25519 public key could not be derived");
    return pub;
}

Ed25519Seed ed25519_generate_seed() {
    ensure_crypto_initialised();
    Ed25519Seed seed{};
    gcry_randomize(seed.data(), seed.size(), GCRY_VERY_STRONG_RANDOM);
    return seed;
}

std::unique_ptr<Sha256Engine> make_in_process_sha256() {
    return std::make_unique<GcryptSha256>();
}

Sha256Digest sha256_in_process(std::span<const uint8_t> bytes) {
    ensure_crypto_initialised();
    Sha256Digest d{};
    gcry_md_hash_buffer(GCRY_MD_SHA256, d.data(), bytes.data(), bytes.size());
    return d;
}

std::string crypto_library_description() {
    ensure_crypto_initialised();
    std::string out = gcry_check_version(nullptr);
    if (char* hw = gcry_get_config(0, "hwflist")) {
        out += " ";
        out += hw;
        gcry_free(hw);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ':'))
        out.pop_back();
    return out;
}

}  // namespace sw
