// Ejecting a simulated drive (development builds only): the request is
// recorded in the drive's state, its backing is flushed, and the drive then
// leaves the drive list as a real one leaves the system.
#pragma once

#include <memory>

#include "disk/disk_system.h"
#include "disk/eject_steps.h"
#include "disk/simulated/simulated.h"

namespace sw::simulated {

// Identifies the drive through `disks`, the seam it is part of, and keeps
// what the drive went through in `states`, those of that seam.
std::unique_ptr<EjectSystem> eject_system(std::shared_ptr<DiskSystem> disks,
                                          std::shared_ptr<SimulatedStates> states);

}  // namespace sw::simulated
