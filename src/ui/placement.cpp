#include "ui/placement.h"

#include <algorithm>

#include "ui/view.h"

namespace sw {

namespace {

int place(long long centred, long long low, long long high, long long length) {
    if (high <= low) return static_cast<int>(centred);
    return static_cast<int>(std::max(std::min(centred, high - length), low));
}

}  // namespace

WindowOrigin window_origin(int screen_width, int screen_height, const ScreenArea& work, int width,
                           int height) {
    // In 64 bits: neither a huge window nor a huge screen overflows.
    auto centred = [](long long screen, long long length) { return (screen - length) / 2; };
    return {place(centred(screen_width, width), work.left, work.right, width),
            place(centred(screen_height, height), work.top, work.bottom, height)};
}

uint32_t fitting_dpi(uint32_t dpi, int frame_width, int frame_height, const ScreenArea& work) {
    if (work.right <= work.left || work.bottom <= work.top) return dpi;
    const long long width = static_cast<long long>(work.right) - work.left - frame_width;
    const long long height = static_cast<long long>(work.bottom) - work.top - frame_height;
    // The largest d with round(560 d / 96) <= width and round(720 d / 96) <= height.
    const auto client_width = static_cast<long long>(kClientWidth);
    const auto client_height = static_cast<long long>(kClientHeight);
    const long long fit =
        std::min((96 * width + 47) / client_width, (96 * height + 47) / client_height);
    return static_cast<uint32_t>(std::clamp<long long>(fit, 96, std::max<uint32_t>(dpi, 96)));
}

}  // namespace sw
