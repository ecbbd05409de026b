#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace sw {

// "Windows 11 Pro 23H2 (build 22631.2861)": product name (Windows 10 becomes
// Windows 11 from build 22000 on), display version, build and revision, with
// the gaps of missing values closed.
std::string describe_windows(const std::optional<std::string>& product_name,
                             const std::optional<std::string>& display_version,
                             const std::optional<std::string>& current_build,
                             std::optional<uint32_t> ubr);

}  // namespace sw
