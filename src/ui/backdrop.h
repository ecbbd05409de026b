// Whether the window asks for the system's translucent backdrop: only on
// builds that have it (22621 and later), never in high contrast, and not
// when the user turned transparency off.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace sw {

inline constexpr uint32_t kFirstBackdropBuild = 22621;

// "CurrentBuild" as an unsigned 32-bit decimal, an optional leading plus
// sign allowed; none for anything else.
std::optional<uint32_t> parse_build_number(std::string_view text);

struct BackdropChoice {
    bool request = false;
    uint32_t build = 0;  // 0 when unreadable
};

// `transparency` is the user's "EnableTransparency" value, none when it
// cannot be read (which does not stop the request).
BackdropChoice choose_backdrop(std::optional<uint32_t> build, bool high_contrast,
                               std::optional<uint32_t> transparency);

}  // namespace sw
