// The drive seam with simulated USB drives added (development builds only):
// a decorator over another DiskSystem that lists, opens, holds and ejects
// the drives of ORTIVEX_SIMULATED_USB and delegates everything else. On
// Windows it also applies ORTIVEX_SIMULATED_SYSTEM_DISK to the volumes whose
// disks the system cannot tell (see system_disk.h). The settings are read at
// every call, so a change of the environment shows at the next scan.
#pragma once

#include <memory>

#include "disk/disk_system.h"
#include "disk/simulated/simulated.h"

namespace sw {

// The drives remember what they went through (removal, media changes,
// ejects) in `states`, for as long as the decorator lives.
std::shared_ptr<DiskSystem> with_simulated_drives(std::shared_ptr<DiskSystem> base,
                                                  std::shared_ptr<SimulatedStates> states);

}  // namespace sw
