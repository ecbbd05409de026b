#include "cli/modes.h"
#include "cli/not_built.h"

namespace sw {

int run_benchmark(const DeviceInfo&, uint64_t) {
    return mode_not_available("--benchmark");
}

}  // namespace sw
