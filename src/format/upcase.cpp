// The up-case mapping exFAT compares names with, from the case rules of the
// scripts people name files in: Latin (ASCII, Latin-1, Extended-A and
// Additional), Greek, Cyrillic, Armenian, Roman numerals, circled and
// full-width letters. Everything else maps to itself.
#include "format/pages.h"

namespace format {

namespace {

bool in(char16_t c, char16_t first, char16_t last) {
    return c >= first && c <= last;
}

// Blocks where capital and small letters alternate, capital first.
bool small_of_pair(char16_t c, char16_t first, char16_t last) {
    return in(c, first, last) && (c - first) % 2 == 1;
}

}  // namespace

char16_t upcase(char16_t c) {
    if (in(c, u'a', u'z')) return c - 0x20;
    if (c == 0xB5) return 0x39C;  // micro sign: Greek capital mu
    if (in(c, 0xE0, 0xFE) && c != 0xF7) return c - 0x20;
    if (c == 0xFF) return 0x178;
    // Latin Extended-A; U+0130/U+0131 (Turkish dotted and dotless i) stay.
    if (small_of_pair(c, 0x100, 0x12F) || small_of_pair(c, 0x132, 0x137) ||
        small_of_pair(c, 0x139, 0x148) || small_of_pair(c, 0x14A, 0x177) ||
        small_of_pair(c, 0x179, 0x17E))
        return c - 1;
    // Greek, with the accented vowels and the final sigma.
    if (c == 0x3AC) return 0x386;
    if (in(c, 0x3AD, 0x3AF)) return c - 0x25;
    if (c == 0x3C2) return 0x3A3;
    if (in(c, 0x3B1, 0x3CB)) return c - 0x20;
    if (c == 0x3CC) return 0x38C;
    if (in(c, 0x3CD, 0x3CE)) return c - 0x3F;
    // Cyrillic.
    if (in(c, 0x430, 0x44F)) return c - 0x20;
    if (in(c, 0x450, 0x45F)) return c - 0x50;
    if (small_of_pair(c, 0x460, 0x481) || small_of_pair(c, 0x48A, 0x4BF) ||
        small_of_pair(c, 0x4C1, 0x4CE) || small_of_pair(c, 0x4D0, 0x52F))
        return c - 1;
    if (c == 0x4CF) return 0x4C0;
    // Armenian.
    if (in(c, 0x561, 0x586)) return c - 0x30;
    // Latin Extended Additional (Vietnamese and more).
    if (small_of_pair(c, 0x1E00, 0x1E95) || small_of_pair(c, 0x1EA0, 0x1EFF)) return c - 1;
    // Roman numerals, circled letters, full-width letters.
    if (in(c, 0x2170, 0x217F)) return c - 0x10;
    if (in(c, 0x24D0, 0x24E9)) return c - 0x1A;
    if (in(c, 0xFF41, 0xFF5A)) return c - 0x20;
    return c;
}

const std::vector<uint8_t>& exfat_upcase_table() {
    static const std::vector<uint8_t> table = [] {
        std::vector<uint16_t> words;
        uint32_t c = 0;
        while (c <= 0xFFFF) {
            uint32_t run = 0;
            while (c + run <= 0xFFFF && upcase(static_cast<char16_t>(c + run)) == c + run)
                ++run;
            // A run is worth compressing from three characters on; one that
            // reaches U+FFFF always is, as 0xFFFF alone would read as a marker.
            if (run >= 3 || (run > 0 && c + run > 0xFFFF)) {
                words.push_back(0xFFFF);
                words.push_back(static_cast<uint16_t>(run));
                c += run;
                continue;
            }
            for (uint32_t i = 0; i <= run && c <= 0xFFFF; ++i, ++c)
                words.push_back(upcase(static_cast<char16_t>(c)));
        }
        std::vector<uint8_t> bytes(words.size() * 2);
        for (size_t i = 0; i < words.size(); ++i)
            detail::put16(&bytes[2 * i], words[i]);
        return bytes;
    }();
    return table;
}

}  // namespace format
