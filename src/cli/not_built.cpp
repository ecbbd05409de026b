// Modes that this build does not have yet. Each says so in one line and fails.
#include "cli/headless.h"
#include "cli/modes.h"
#include "core/text.h"

namespace sw {

namespace {
int not_available(std::string_view mode) {
    emit(fmt("{} is not available in this build", mode));
    return kExitFailed;
}
}  // namespace

int list_drives_mode() {
    return not_available("--list-drives");
}
int verify_image_mode(const std::string&) {
    return not_available("--verify-image");
}
int health_mode() {
    return not_available("--health");
}
std::optional<DeviceInfo> select_test_drive(const std::string&) {
    emit("test drive selection is not available in this build");
    return std::nullopt;
}
int write_mode(const DeviceInfo&, const std::string&, bool) {
    return not_available("--write");
}
int run_benchmark(const DeviceInfo&, uint64_t) {
    return not_available("--benchmark");
}

}  // namespace sw
