// The machine tests run on: this computer's drives with the simulated ones
// of ORTIVEX_SIMULATED_USB beside them, as a development build composes it.
#pragma once

#include <memory>

#include "core/clock.h"
#include "disk/disk_system.h"
#include "disk/simulated/simulated_disks.h"
#include "machine/machine.h"

namespace sw::test {

// Each call's simulated drives start afresh, unless `states` is shared.
inline std::shared_ptr<DiskSystem> dev_disks(
    Clock& clock, std::shared_ptr<SimulatedStates> states = std::make_shared<SimulatedStates>()) {
    return with_simulated_drives(platform_disk_system(clock), std::move(states));
}

inline std::shared_ptr<Machine> dev_machine(Clock& clock) {
    return platform_machine(dev_disks(clock));
}

// The same, waiting on the real clock.
inline std::shared_ptr<DiskSystem> dev_disks() {
    return dev_disks(real_clock());
}
inline std::shared_ptr<Machine> dev_machine() {
    return dev_machine(real_clock());
}

}  // namespace sw::test
