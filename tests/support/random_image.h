// Reproducible pseudo-random bytes (xorshift), for images whose content
// must not repeat within a buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sw::test {

inline std::string random_image(size_t n, uint32_t seed) {
    std::string s(n, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s[i] = static_cast<char>(x & 0xFF);
    }
    return s;
}

}  // namespace sw::test
