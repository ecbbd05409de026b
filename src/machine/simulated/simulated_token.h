// The process token's answer replaced (development builds only): with
// ORTIVEX_SIMULATED_UNELEVATED=1 the program sees itself as not elevated,
// so that the window's unelevated start can be seen where the system always
// runs programs elevated (wine).
#pragma once

#include <memory>

#include "machine/machine.h"

namespace sw {

std::shared_ptr<Machine> with_simulated_token(std::shared_ptr<Machine> base);

}  // namespace sw
