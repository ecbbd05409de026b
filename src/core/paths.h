// Paths are UTF-8 text at the edges of the program (arguments, logs, output)
// and std::filesystem::path inside, which on Windows holds UTF-16.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace sw {

inline std::filesystem::path path_from_utf8(std::string_view text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string utf8_of(const std::filesystem::path& p) {
    std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

}  // namespace sw
