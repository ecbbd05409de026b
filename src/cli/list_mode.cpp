#include "cli/drive_lines.h"
#include "cli/headless.h"
#include "cli/modes.h"
#include "core/text.h"
#include "disk/drives.h"

namespace sw {

int list_drives_mode(const MachinePtr& machine) {
    auto drives = list_drives(machine->disks());
    if (!drives) {
        emit(fmt("enumeration failed: {}", drives.error().text));
        return kExitFailed;
    }
    SystemFacts facts = gather_system_facts(machine->disks(), std::nullopt);
    emit(fmt("facts: {}", debug_string(facts)));
    for (const auto& drive : *drives)
        emit(drive_line(drive, refusals_for(drive, facts, std::nullopt)));
    return kExitOk;
}

}  // namespace sw
