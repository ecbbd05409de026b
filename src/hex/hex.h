// Hexadecimal text: two digits per byte, high four bits first.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sw {

// Either case is accepted; any other character fails the whole decode.
// Callers reject odd lengths before decoding (an odd length fails here too).
std::optional<std::vector<uint8_t>> hex_decode(std::string_view text);
// Lower-case digits.
std::string hex_encode(std::span<const uint8_t> bytes);

}  // namespace sw
