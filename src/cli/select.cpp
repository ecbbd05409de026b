#include "cli/headless.h"
#include "cli/modes.h"
#include "core/text.h"
#include "disk/drives.h"

namespace sw {

std::optional<DeviceInfo> select_test_drive(const MachinePtr& machine, const std::string& serial) {
    auto drives = list_drives(machine->disks());
    if (!drives) return std::nullopt;
    SystemFacts facts = gather_system_facts(machine->disks(), std::nullopt);

    std::vector<const DeviceInfo*> matching;
    for (const auto& d : *drives)
        if (d.serial == serial) matching.push_back(&d);
    if (matching.size() != 1) {
        emit(
            fmt("refused: {} drives have serial '{}' (need exactly one)", matching.size(), serial));
        return std::nullopt;
    }
    const DeviceInfo& drive = *matching.front();
    auto refusals = refusals_for(drive, facts, std::nullopt);
    if (!refusals.empty()) {
        emit(fmt("refused: disk {} is protected: {}", drive.number, debug_string(refusals)));
        return std::nullopt;
    }
    emit(fmt("target: disk {} '{}' serial='{}' size={} usb={} sector={}", drive.number,
             drive_label(drive), drive.serial, drive.size, usb_speed_debug(drive.usb_speed),
             drive.logical_sector));
    return drive;
}

}  // namespace sw
