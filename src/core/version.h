#pragma once

#include <string>

namespace sw {

inline constexpr const char* kVersion = "1.3.1";
inline constexpr const char* kBuild = "5553.39efadd7";

// "1.3.1 (build 5553.39efadd7)"
inline std::string version_text() {
    return std::string(kVersion) + " (build " + kBuild + ")";
}

}  // namespace sw
