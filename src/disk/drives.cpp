#include "disk/drives.h"

#include "runtime/thread.h"

namespace sw {

Result<std::vector<DeviceInfo>, OsError> list_drives(const Disks& disks) {
    auto drives = disks->enumerate_disks();
    if (!drives) return drives;
    auto volumes = disks->enumerate_volumes();
    if (volumes) assign_letters(*drives, *volumes);
    for (auto& d : *drives)
        if (d.bus.kind == BusKind::Usb) d.usb_speed = disks->usb_speed_of(d);
    return drives;
}

SystemFacts gather_system_facts(const Disks& disks, const std::optional<std::string>& image_path) {
    FactsHooks hooks;
    hooks.volumes = [disks] { return disks->enumerate_volumes(); };
    hooks.extra_disks_of = [disks](const std::string& path) {
        return disks->disks_backed_by(path);
    };
    return disks->gather_facts(image_path, hooks);
}

Result<RawDevice, std::string> open_raw_with_time_limit(const Disks& disks, uint32_t number,
                                                        uint32_t sector, uint64_t size) {
    auto answer = run_with_time_limit(
        "opening the drive", 30,
        [disks, number, sector, size] {
            return disks->open_raw(number, sector, size, health_check_config());
        },
        disks->clock());
    if (!answer) return unexpected(answer.error());
    if (!*answer) return unexpected(answer->error().text);
    return std::move(**answer);
}

}  // namespace sw
