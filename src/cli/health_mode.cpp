#include "cli/modes.h"
#include "cli/not_built.h"

namespace sw {

int health_mode() {
    return mode_not_available("--health");
}

}  // namespace sw
