#include "entry.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace sw {

Face choose_face(const std::vector<std::string>& args) {
    static constexpr std::array<std::string_view, 6> kModeFlags = {
        "--list-drives", "--verify-image", "--health", "--write", "--benchmark", "--restore"};
    for (const auto& arg : args) {
        if (std::find(kModeFlags.begin(), kModeFlags.end(), arg) != kModeFlags.end())
            return Face::Headless;
    }
    return Face::Window;
}

}  // namespace sw
