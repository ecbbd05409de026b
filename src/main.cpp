// The composition root: the one place that decides which machine the
// program runs on. Development builds see simulated USB drives beside the
// real ones; a release build has no code for them at all.
#include "cli/headless.h"
#include "core/clock.h"
#include "disk/disk_system.h"
#include "entry.h"
#include "machine/machine.h"
#include "core/system.h"

#ifdef ORTIVEX_SIMULATED_DRIVES
#include "disk/simulated/simulated_disks.h"
#include "machine/simulated/simulated_token.h"
#endif

int main(int argc, char** argv) {
    std::shared_ptr<sw::DiskSystem> disks = sw::platform_disk_system(sw::real_clock());
#ifdef ORTIVEX_SIMULATED_DRIVES
    disks = sw::with_simulated_drives(std::move(disks), std::make_shared<sw::SimulatedStates>());
#endif
    std::shared_ptr<sw::Machine> machine = sw::platform_machine(std::move(disks));
#ifdef ORTIVEX_SIMULATED_DRIVES
    machine = sw::with_simulated_token(std::move(machine));
#endif
    // The faces: the headless modes when a mode flag is given, else the window.
    std::vector<std::string> args = sw::platform::command_line_args(argc, argv);
    if (sw::choose_face(args) == sw::Face::Headless)
        return sw::run_headless(args, std::move(machine));
    return sw::run_window_face(std::move(machine));
}
