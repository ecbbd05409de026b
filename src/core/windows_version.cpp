#include "core/windows_version.h"

#include "core/text.h"

namespace sw {

std::string describe_windows(const std::optional<std::string>& product_name,
                             const std::optional<std::string>& display_version,
                             const std::optional<std::string>& current_build,
                             std::optional<uint32_t> ubr) {
    std::string product = product_name.value_or("Windows");
    std::string display = display_version.value_or("");
    std::string build = current_build.value_or("");
    std::string revision = ubr ? fmt(".{}", *ubr) : "";
    auto number = parse_u32_decimal(build);
    if (number && *number >= 22000) product = replace_all(product, "Windows 10", "Windows 11");
    return replace_all(fmt("{} {} (build {}{})", product, display, build, revision), "  ", " ");
}

}  // namespace sw
