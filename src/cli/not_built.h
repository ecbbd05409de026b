// A mode this build does not have says so in one line and fails.
#pragma once

#include <string_view>

#include "cli/headless.h"
#include "core/text.h"

namespace sw {

inline int mode_not_available(std::string_view mode) {
    emit(fmt("{} is not available in this build", mode));
    return kExitFailed;
}

}  // namespace sw
