#include "cli/headless.h"
#include "cli/modes.h"
#include "core/clock.h"
#include "core/text.h"
#include "disk/health.h"
#include "core/system.h"

namespace sw {

int health_mode(const MachinePtr& machine) {
    // Unlike the destructive modes, an unset variable is not refused here:
    // it selects the one drive whose serial is empty, if there is exactly one.
    auto drive =
        select_test_drive(machine, platform::env_var("ORTIVEX_TEST_USB_SERIAL").value_or(""));
    if (!drive) return kExitNoTestDrive;
    Clock& clock = machine->clock();
    auto start = clock.now();
    HealthReport report = check_health(machine->disks(), *drive);
    double seconds = elapsed_seconds(start, clock.now());
    bool healthy = is_healthy(report);
    emit(fmt("health ({} s): healthy={} {}", fixed(seconds, 1), healthy, debug_string(report)));
    return healthy ? kExitOk : kExitFailed;
}

}  // namespace sw
