#include "cli/modes.h"
#include "cli/not_built.h"

namespace sw {

int write_mode(const DeviceInfo&, const std::string&, bool) {
    return mode_not_available("--write");
}

}  // namespace sw
