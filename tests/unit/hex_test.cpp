#include "hex/hex.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sw {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(Hex, DecodesEitherCaseHighDigitFirst) {
    EXPECT_EQ(hex_decode(""), Bytes{});
    EXPECT_EQ(hex_decode("00ff10"), (Bytes{0x00, 0xFF, 0x10}));
    EXPECT_EQ(hex_decode("A5b6Cd"), (Bytes{0xA5, 0xB6, 0xCD}));
    EXPECT_EQ(hex_decode("0123456789abcdefABCDEF"),
              (Bytes{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xAB, 0xCD, 0xEF}));
}

TEST(Hex, AnyOtherCharacterOrOddLengthFails) {
    for (std::string_view bad : {"0", "abc", "0g", "g0", "zz", "0x12", " 12", "12 ", "1-", "+1",
                                 "\xC3\xA9", "12\n", "ff:ff"}) {
        EXPECT_EQ(hex_decode(bad), std::nullopt) << bad;
    }
    // A bad digit anywhere, even in the last pair, fails the whole text.
    EXPECT_EQ(hex_decode(std::string(126, 'a') + "a/"), std::nullopt);
    EXPECT_EQ(hex_decode(std::string{'0', '0', '\0', '0'}), std::nullopt);
}

// Every character is tried in both positions of a pair: exactly the 22 digits decode.
TEST(Hex, DigitSetIsExact) {
    int accepted = 0;
    for (int c = 0; c < 256; ++c) {
        const char ch = static_cast<char>(c);
        const std::string high{ch, '0'}, low{'0', ch};
        auto h = hex_decode(high), l = hex_decode(low);
        EXPECT_EQ(h.has_value(), l.has_value()) << c;
        if (!h || !l) continue;
        ++accepted;
        EXPECT_EQ((*h)[0], (*l)[0] << 4) << c;
        EXPECT_EQ((*l)[0], std::stoi(std::string(1, ch), nullptr, 16)) << c;
    }
    EXPECT_EQ(accepted, 22);
}

TEST(Hex, EncodesLowerCaseAndRoundTrips) {
    EXPECT_EQ(hex_encode({}), "");
    const Bytes sample{0x00, 0x0F, 0xF0, 0xAB, 0x7E};
    EXPECT_EQ(hex_encode(sample), "000ff0ab7e");

    Bytes all(256);
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<uint8_t>(i);
    const std::string text = hex_encode(all);
    ASSERT_EQ(text.size(), 512u);
    EXPECT_EQ(text.substr(0, 6), "000102");
    EXPECT_EQ(text.substr(508), "feff");
    EXPECT_EQ(text.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(hex_decode(text), all);
}

}  // namespace
}  // namespace sw
