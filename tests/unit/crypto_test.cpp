#include "image/crypto.h"

#include <gtest/gtest.h>

#include <string>

#include "hex/hex.h"

namespace sw {
namespace {

template <size_t N>
std::array<uint8_t, N> arr(std::string_view hex) {
    auto bytes = hex_decode(hex);
    std::array<uint8_t, N> out{};
    EXPECT_TRUE(bytes && bytes->size() == N) << hex;
    if (bytes && bytes->size() == N) std::copy(bytes->begin(), bytes->end(), out.begin());
    return out;
}
std::vector<uint8_t> bytes_of(std::string_view hex) {
    return hex_decode(hex).value_or(std::vector<uint8_t>{});
}
std::span<const uint8_t> span_of(std::string_view s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

struct Rfc8032Vector {
    const char* secret;
    const char* pub;
    const char* message;
    const char* signature;
};
// RFC 8032, section 7.1, tests 1 to 3.
const Rfc8032Vector kVectors[] = {
    {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
     "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9"
     "b46bd25bf5f0595bbe24655141438e7a100b"},
    {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
     "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f1"
     "1d8c387b2eaeb4302aeeb00d291612bb0c00"},
    {"c5aa8df43f9f837bedb7442f31dcb7b166d38535076f094b85ce3a2e0b4458f7",
     "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
     "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f760984d"
     "c6594a7c15e9716ed28dc027beceea1ec40a"},
};

TEST(Ed25519, Rfc8032VectorsSignDeriveAndVerify) {
    for (const auto& v : kVectors) {
        SCOPED_TRACE(v.pub);
        auto seed = arr<32>(v.secret);
        auto pub = arr<32>(v.pub);
        auto sig = arr<64>(v.signature);
        auto msg = bytes_of(v.message);
        EXPECT_EQ(ed25519_public_key(seed), pub);
        EXPECT_EQ(ed25519_sign(seed, msg), sig);
        EXPECT_TRUE(ed25519_verify(pub, msg, sig));
    }
}

TEST(Ed25519, AnyChangeFailsVerification) {
    const auto& v = kVectors[2];
    auto pub = arr<32>(v.pub);
    auto sig = arr<64>(v.signature);
    auto msg = bytes_of(v.message);
    auto other_msg = msg;
    other_msg[0] ^= 1;
    EXPECT_FALSE(ed25519_verify(pub, other_msg, sig));
    EXPECT_FALSE(ed25519_verify(pub, std::span(msg).first(1), sig));
    for (size_t i : {0u, 31u, 32u, 63u}) {
        auto bad = sig;
        bad[i] ^= 0x01;
        EXPECT_FALSE(ed25519_verify(pub, msg, bad)) << i;
    }
    auto other_key = arr<32>(kVectors[0].pub);
    EXPECT_FALSE(ed25519_verify(other_key, msg, sig));
    // Not a point on the curve.
    Ed25519PublicKey junk{};
    junk.fill(0xff);
    EXPECT_FALSE(ed25519_verify(junk, msg, sig));
}

// S + L (the group order) is the same scalar modulo L, so the library's
// equation still holds; only the explicit range check refuses it.
TEST(Ed25519, ScalarNotBelowTheGroupOrderIsRejected) {
    const std::array<uint8_t, 32> order =
        arr<32>("edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010");
    for (const auto& v : kVectors) {
        auto pub = arr<32>(v.pub);
        auto sig = arr<64>(v.signature);
        auto msg = bytes_of(v.message);
        auto malleated = sig;
        unsigned carry = 0;
        for (size_t i = 0; i < 32; ++i) {
            unsigned sum = sig[32 + i] + order[i] + carry;
            malleated[32 + i] = static_cast<uint8_t>(sum);
            carry = sum >> 8;
        }
        ASSERT_EQ(carry, 0u);
        EXPECT_TRUE(detail::gcrypt_ed25519_verify(pub, msg, malleated))
            << "libgcrypt no longer accepts S + L; the check is still needed for older ones";
        EXPECT_FALSE(ed25519_verify(pub, msg, malleated));
        EXPECT_TRUE(ed25519_verify(pub, msg, sig));
    }
    EXPECT_FALSE(ed25519_scalar_is_canonical(order));
    auto below = order;
    below[0] -= 1;
    EXPECT_TRUE(ed25519_scalar_is_canonical(below));
    auto above = order;
    above[31] += 1;
    EXPECT_FALSE(ed25519_scalar_is_canonical(above));
}

TEST(Ed25519, GeneratedKeysSignAndVerify) {
    Ed25519Seed a = ed25519_generate_seed();
    Ed25519Seed b = ed25519_generate_seed();
    EXPECT_NE(a, b);
    auto sig = ed25519_sign(a, span_of("message"));
    EXPECT_TRUE(ed25519_verify(ed25519_public_key(a), span_of("message"), sig));
    EXPECT_FALSE(ed25519_verify(ed25519_public_key(b), span_of("message"), sig));
}

TEST(Sha256InProcess, StandardVectors) {
    EXPECT_EQ(hex_encode(sha256_in_process(span_of("abc"))),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hex_encode(sha256_in_process({})),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    auto engine = make_in_process_sha256();
    std::string a(1000, 'a');
    for (int i = 0; i < 1000; ++i)
        engine->update(span_of(a));
    EXPECT_EQ(hex_encode(engine->finish()),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

}  // namespace
}  // namespace sw
