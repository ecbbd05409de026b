#include "ui/backdrop.h"

#include <charconv>

namespace sw {

std::optional<uint32_t> parse_build_number(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
    uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

BackdropChoice choose_backdrop(std::optional<uint32_t> build, bool high_contrast,
                               std::optional<uint32_t> transparency) {
    BackdropChoice choice{false, build.value_or(0)};
    if (!build || *build < kFirstBackdropBuild || high_contrast) return choice;
    if (transparency && *transparency == 0) return choice;
    choice.request = true;
    return choice;
}

}  // namespace sw
