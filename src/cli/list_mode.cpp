#include "cli/modes.h"
#include "cli/not_built.h"

namespace sw {

int list_drives_mode() {
    return mode_not_available("--list-drives");
}

}  // namespace sw
