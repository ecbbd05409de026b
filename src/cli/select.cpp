#include "cli/modes.h"
#include "cli/not_built.h"

namespace sw {

std::optional<DeviceInfo> select_test_drive(const std::string&) {
    emit("test drive selection is not available in this build");
    return std::nullopt;
}

}  // namespace sw
