// Ejecting a simulated drive (development builds only): the request is
// recorded in the drive's state, its backing is flushed, and the drive then
// leaves the drive list as a real one leaves the system.
#pragma once

#include <memory>

#include "disk/eject_steps.h"

namespace sw::simulated {

std::unique_ptr<EjectSystem> eject_system();

}  // namespace sw::simulated
