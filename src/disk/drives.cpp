#include "disk/drives.h"

#include <algorithm>

#include "core/text.h"

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

namespace {

bool listed_in(const DiskFact& fact, uint32_t disk) {
    return fact && std::find(fact->begin(), fact->end(), disk) != fact->end();
}

// Disks the system holds for something the other facts do not account for.
// A mounted file system of the disk's own accounts for a refused exclusive
// open (the job unmounts it); anything else does not: a device-mapper or md
// device stacked on it, an external journal of a mounted file system, or
// whatever else claims it.
std::vector<std::pair<uint32_t, std::string>> held_disks(
    const Result<std::vector<KernelClaim>, OsError>& claims, const std::vector<VolumeInfo>& volumes,
    const SystemFacts& facts) {
    std::vector<std::pair<uint32_t, std::string>> held;
    auto note = [&](uint32_t disk, std::string reason) {
        for (const auto& [d, r] : held)
            if (d == disk) return;
        held.emplace_back(disk, std::move(reason));
    };
    if (!claims) {
        // Unknown for every disk: as good as held.
        std::string reason = fmt("holders of the disks: {}", claims.error().text);
        for (const auto& v : volumes)
            for (uint32_t d : v.disks)
                note(d, reason);
        return held;
    }
    for (const auto& c : *claims) {
        const DiskFact* known[] = {&facts.system_volume, &facts.boot_volume, &facts.boot_partition,
                                   &facts.swap,          &facts.executable,  &facts.image};
        if (std::any_of(std::begin(known), std::end(known),
                        [&](const DiskFact* f) { return listed_in(*f, c.disk); }))
            continue;  // refused already
        if (!c.holders.empty()) {
            note(c.disk, fmt("/dev/{} is held by {}", c.name, joined(c.holders)));
            continue;
        }
        if (!c.exclusive_open) continue;
        if (!c.exclusive_open->is(kInUse)) {
            note(c.disk,
                 fmt("/dev/{} cannot be checked for holders: {}", c.name, c.exclusive_open->text));
            continue;
        }
        auto v = std::find_if(volumes.begin(), volumes.end(),
                              [&](const VolumeInfo& v) { return v.device == c.dev; });
        if (v != volumes.end() && !v->mount_points.empty()) continue;  // its own mounts
        note(c.disk, fmt("/dev/{} is in use by the system although nothing of it is mounted ({})",
                         c.name, c.exclusive_open->text));
    }
    return held;
}

// The disks holding `path`: those of its volume, and those that hold it
// without any volume knowing it (simulated drives backed by that very file).
DiskFact disks_of(DiskSystem& disks, const std::vector<VolumeInfo>& volumes,
                  const std::string& path) {
    auto fact = disks.locate_path(volumes, path);
    if (fact)
        for (uint32_t extra : disks.disks_backed_by(path))
            add_unique(*fact, extra);
    return fact;
}

DiskFact boot_partition_disks(DiskSystem& disks, const std::vector<VolumeInfo>& volumes,
                              const Result<std::optional<BootPartitionPlace>, std::string>& place) {
    if (!place) return unexpected(place.error());
    if (!*place) return std::vector<uint32_t>{};
    if (!(*place)->path.empty()) return disks_of(disks, volumes, (*place)->path);
    const std::string& device = (*place)->volume_device;
    for (const auto& v : volumes) {
        if (v.device.empty() || !iequals_ascii(v.device, device)) continue;
        if (!v.disks.empty()) return v.disks;
        break;
    }
    return unexpected(fmt("boot partition {} not found among volumes", device));
}

DiskFact swap_disks(DiskSystem& disks, const std::vector<VolumeInfo>& volumes,
                    const Result<std::vector<SwapPlace>, std::string>& places) {
    if (!places) return unexpected(places.error());
    std::vector<uint32_t> all;
    std::optional<std::string> last_reason;
    for (const auto& area : *places) {
        auto fact = disks_of(disks, volumes, area.path);
        if (fact && area.file && (!area.intact || fact->empty()))
            fact = unexpected(
                fmt("swap file {}: the file at that path is not the swap area (mounted over?)",
                    area.path));
        if (fact) {
            all.insert(all.end(), fact->begin(), fact->end());
        } else {
            last_reason = fact.error();
        }
    }
    if (last_reason) return unexpected(*last_reason);
    return all;
}

}  // namespace

SystemFacts gather_system_facts(const Disks& disks, const std::optional<std::string>& image_path) {
    // The places first: a slow system answers there, before any volume is read.
    auto places = disks->system_places();
    auto volumes = disks->enumerate_volumes();
    if (!volumes) {
        DiskFact same = unexpected(fmt("volume enumeration failed: {}", volumes.error().text));
        return SystemFacts{same, same, same, same, same, same};
    }
    if (!places) {
        DiskFact same = unexpected(places.error());
        return SystemFacts{same, same, same, same, same, same};
    }
    auto locate = [&](const std::string& path) { return disks_of(*disks, *volumes, path); };

    SystemFacts facts;
    if (places->system) {
        for (const auto& path : *places->system) {
            auto fact = locate(path);
            if (!fact) {
                facts.system_volume = fact;
                break;
            }
            if (facts.system_volume->empty()) {
                facts.system_volume = std::move(fact);
            } else {
                for (uint32_t d : *fact)
                    add_unique(*facts.system_volume, d);
            }
        }
    } else {
        facts.system_volume = unexpected(places->system.error());
    }
    facts.boot_volume =
        places->boot ? locate(*places->boot) : DiskFact(unexpected(places->boot.error()));
    facts.boot_partition = boot_partition_disks(*disks, *volumes, places->boot_partition);
    facts.swap = swap_disks(*disks, *volumes, places->swap);
    facts.executable = places->executable ? locate(*places->executable)
                                          : DiskFact(unexpected(places->executable.error()));
    facts.image = image_path ? locate(*image_path) : DiskFact(std::vector<uint32_t>{});
    facts.held = held_disks(places->claims, *volumes, facts);
    disks->add_held(facts.held);
    return facts;
}

}  // namespace sw
