#include "disk/eject.h"

#include <algorithm>

#include "core/text.h"
#include "runtime/thread.h"
#include "disk/drives.h"
#include "disk/eject_steps.h"
#include "logging/logger.h"

namespace sw {

std::string debug_string(const EjectOutcome& outcome) {
    return outcome ? std::string("Ok(())") : fmt("Err({})", debug_quoted(outcome.error()));
}

Result<void, std::string> eject_answer(uint32_t cr, int32_t veto_type, std::string_view veto_name) {
    if (cr == 0 && veto_type == 0) return {};
    return unexpected(fmt("CM_Request_Device_EjectW cr={} veto={} {}", cr, veto_type, veto_name));
}

// --- Linux ---------------------------------------------------------------------

std::optional<std::string> usb_device_of(
    const std::string& disk_sysfs_dir, const std::function<bool(const std::string&)>& has_vendor) {
    std::string dir = disk_sysfs_dir;
    while (!dir.empty() && dir.back() == '/')
        dir.pop_back();
    while (dir.size() > std::string_view("/sys/devices").size()) {
        if (has_vendor(dir)) return dir;
        auto slash = dir.rfind('/');
        if (slash == std::string::npos) break;
        dir.resize(slash);
    }
    return std::nullopt;
}

Result<void, std::string> linux_request_eject(LinuxEjectOps& ops, const DeviceInfo& disk,
                                              const EjectTarget& target) {
    auto node = ops.disk_node(disk.number);
    if (!node) return unexpected(fmt("disk {}: {}", disk.number, node.error().text));
    // The kernel grants an exclusive open only while nothing claims the disk
    // or a partition of it; while we hold it nothing can mount it either.
    auto held = ops.hold_exclusive(*node);
    if (!held) {
        if (held.error().is(kInUse)) {
            auto points = ops.mount_points(disk.number);
            if (!points.empty())
                return unexpected(fmt("{} is in use (mounted at {})", *node, joined(points)));
            return unexpected(fmt("{} is in use: {}", *node, held.error().text));
        }
        return unexpected(fmt("{}: {}", *node, held.error().text));
    }
    if (auto flushed = (*held)->flush(); !flushed)
        return unexpected(fmt("flushing {}: {}", *node, flushed.error().text));

    std::string own_dir = target.path;
    if (target.parent) {
        // Every other disk of the USB device must be free: held exclusively,
        // which the kernel grants only when nothing is mounted from it and
        // nothing holds it, and held until the device is detached.
        std::vector<std::unique_ptr<HeldDisk>> others;
        std::optional<std::string> busy;
        if (auto disks = ops.disks_of_usb_device(target.path); !disks) {
            busy = fmt("its disks cannot be listed ({})", disks.error().text);
        } else {
            for (const auto& other : *disks) {
                if (other == *node) continue;
                auto held_other = ops.hold_exclusive(other);
                if (!held_other) {
                    busy =
                        fmt("{} on the same device is in use ({})", other, held_other.error().text);
                    break;
                }
                others.push_back(std::move(*held_other));
            }
        }
        if (!busy) {
            // Drivers let go of the USB device: the disk goes away after its
            // driver has synchronised the device's cache.
            std::string authorized = target.path + "/authorized";
            if (auto done = ops.write_attribute(authorized, "0"); !done)
                return unexpected(fmt("{}: {}", authorized, done.error().text));
            // Then the port goes off, and with it the power on hubs that
            // switch it.
            std::string port = target.path + "/port/disable";
            if (!ops.exists(port)) {
                Logger::write(LogLevel::Info,
                              fmt("{} is not offered; the device stays unpowered only "
                                  "logically until it is unplugged",
                                  port));
            } else if (auto off = ops.write_attribute(port, "1"); !off) {
                Logger::write(LogLevel::Info, fmt("{}: {} (the device is detached all the same)",
                                                  port, off.error().text));
            }
            return {};
        }
        Logger::write(LogLevel::Info,
                      fmt("{} stays powered: {}; removing only {}", target.path, *busy, *node));
        own_dir = ops.disk_sysfs_dir(disk);
    }
    std::string remove = own_dir + "/device/delete";
    if (!ops.exists(remove)) return unexpected(fmt("{} cannot be ejected: no {}", *node, remove));
    if (auto done = ops.write_attribute(remove, "1"); !done)
        return unexpected(fmt("{}: {}", remove, done.error().text));
    return {};
}

// --- What the rest of the program calls ----------------------------------------

EjectOutcome eject_drive(const Disks& disks, const DeviceInfo& drive) {
    auto steps = disks->eject_system(drive.number);
    EjectSystem& system = *steps;
    std::string failure;
    auto found = system.identify(identity_of(drive));
    if (!found) {
        failure = found.error();
    } else {
        auto parent = system.parent_of(*found);
        EjectTarget target = parent ? *parent : system.own_node(*found);
        for (int attempt = 1; attempt <= kEjectAttempts; ++attempt) {
            auto answer = system.request_eject(*found, target);
            if (answer) return {};
            failure = answer.error();
            Logger::write(LogLevel::Info, fmt("eject attempt {} refused: {}", attempt, failure));
            // The pause also follows the last refusal: it gives the system
            // time to settle before the layout is read again.
            disks->clock().sleep_for(std::chrono::milliseconds(500 * attempt));
        }
    }
    // The drive stays; the system should at least show its new volumes.
    if (auto refreshed = system.refresh_layout(drive.number); !refreshed)
        Logger::write(LogLevel::Warn, fmt("{}: {}", system.refresh_name(), refreshed.error().text));
    return unexpected(failure);
}

Result<void, std::string> refresh_layout(const Disks& disks, uint32_t number) {
    auto system = disks->eject_system(number);
    if (auto refreshed = system->refresh_layout(number); !refreshed)
        return unexpected(fmt("{}: {}", system->refresh_name(), refreshed.error().text));
    return {};
}

EjectOutcome eject_on_request(const Disks& disks, const DeviceInfo& drive) {
    EjectOutcome outcome = eject_drive(disks, drive);
    Logger::write(LogLevel::Info,
                  fmt("eject requested by the operator: {}", debug_string(outcome)));
    return outcome;
}

DriveScan scan_drives(const Disks& disks, const std::optional<std::string>& image_path) {
    DriveScan scan;
    if (auto drives = list_drives(disks)) {
        scan.drives = std::move(*drives);
    } else {
        Logger::write(LogLevel::Error, fmt("disk enumeration failed: {}", drives.error().text));
    }
    scan.facts = gather_system_facts(disks, image_path);
    return scan;
}

}  // namespace sw
