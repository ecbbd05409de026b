#include "cli/modes.h"
#include "cli/not_built.h"

namespace sw {

int verify_image_mode(const std::string&) {
    return mode_not_available("--verify-image");
}

}  // namespace sw
