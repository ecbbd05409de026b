#include "disk/drives.h"

#include "core/thread.h"
#include "disk/identify.h"
#include "disk/platform_disks.h"

#ifdef ORTIVEX_SIMULATED_DRIVES
#include "disk/simulated/sim_drives.h"
#include "disk/simulated/simulated.h"
#include "disk/simulated/system_disk.h"
#endif

namespace sw {

namespace {

bool is_simulated(uint32_t number) {
#ifdef ORTIVEX_SIMULATED_DRIVES
    return is_simulated_number(number);
#else
    (void)number;
    return false;
#endif
}

// The platform's locker, with simulated drives held the way their backing asks.
class DriveLocker final : public VolumeLocker {
  public:
    explicit DriveLocker(std::unique_ptr<VolumeLocker> system) : system_(std::move(system)) {}
    Result<std::unique_ptr<VolumeLock>, OsError> open(const VolumeInfo& volume) override {
        return system_->open(volume);
    }
    Result<void, OsError> lock(VolumeLock& volume, uint32_t ms) override {
        return system_->lock(volume, ms);
    }
    Result<void, OsError> dismount(VolumeLock& volume, uint32_t ms) override {
        return system_->dismount(volume, ms);
    }
    std::string_view lock_name() const override { return system_->lock_name(); }
    std::string_view dismount_name() const override { return system_->dismount_name(); }
    Result<std::unique_ptr<VolumeLock>, OsError> hold_disk(uint32_t number) override {
#ifdef ORTIVEX_SIMULATED_DRIVES
        if (is_simulated(number))
            return simulated::hold(number, [this](uint32_t n) { return system_->hold_disk(n); });
#endif
        return system_->hold_disk(number);
    }

  private:
    std::unique_ptr<VolumeLocker> system_;
};

}  // namespace

Result<std::vector<DeviceInfo>, OsError> enumerate_disks() {
    auto disks = platform::enumerate_system_disks();
    if (!disks) return disks;
#ifdef ORTIVEX_SIMULATED_DRIVES
    simulated::add_disks(*disks);
    sort_by_number(*disks);
#endif
    return disks;
}

Result<std::vector<VolumeInfo>, OsError> enumerate_volumes() {
    auto volumes = platform::enumerate_system_volumes();
#ifdef ORTIVEX_SIMULATED_DRIVES
    if (volumes) {
#ifdef _WIN32
        // Only where a volume without disks means the system could not tell
        // them: on Linux it means a volume on no disk at all (RAM).
        simulated::apply_system_disk(*volumes);
#endif
        simulated::add_to_volumes(*volumes);
    }
#endif
    return volumes;
}

Result<std::vector<DeviceInfo>, OsError> list_drives() {
    auto drives = enumerate_disks();
    if (!drives) return drives;
    auto volumes = enumerate_volumes();
    if (volumes) assign_letters(*drives, *volumes);
    for (auto& d : *drives) {
        if (d.bus.kind != BusKind::Usb) continue;
#ifdef ORTIVEX_SIMULATED_DRIVES
        if (is_simulated(d.number)) {
            d.usb_speed = simulated::speed_of(d.number);
            continue;
        }
#endif
        d.usb_speed = platform::usb_speed_of(d);
    }
    return drives;
}

Result<DeviceInfo, std::string> identify_drive(const DeviceIdentity& expected) {
    return identify_drive_with(expected, [] { return enumerate_disks(); });
}

SystemFacts gather_system_facts(const std::optional<std::string>& image_path) {
    platform::FactsHooks hooks;
    hooks.volumes = [] { return enumerate_volumes(); };
#ifdef ORTIVEX_SIMULATED_DRIVES
    hooks.extra_disks_of = [](const std::string& path) { return simulated::disks_holding(path); };
#else
    hooks.extra_disks_of = [](const std::string&) { return std::vector<uint32_t>{}; };
#endif
    return platform::gather_facts(image_path, hooks);
}

DiskFact disks_of_path(const std::vector<VolumeInfo>& volumes, const std::string& path) {
    return platform::locate_path(volumes, path);
}

Result<RawDevice, OsError> open_raw(uint32_t number, uint32_t sector, uint64_t size,
                                    const IoConfig& config, Clock& clock) {
#ifdef ORTIVEX_SIMULATED_DRIVES
    if (is_simulated(number)) return simulated::open(number, sector, size, config, clock);
#endif
    auto path = platform::disk_path(number);
    if (!path) return unexpected(path.error());
    auto disk = platform::open_async(*path, open_mode_of(config), slot_count_for(config.depth));
    if (!disk) return unexpected(disk.error());
    return RawDevice(std::move(*disk), number, sector, size, config, clock);
}

Result<RawDevice, std::string> open_raw_with_time_limit(uint32_t number, uint32_t sector,
                                                        uint64_t size, Clock& clock) {
    auto answer = run_with_time_limit(
        "opening the drive", 30,
        [number, sector, size, &clock] {
            return open_raw(number, sector, size, health_check_config(), clock);
        },
        clock);
    if (!answer) return unexpected(answer.error());
    if (!*answer) return unexpected(answer->error().text);
    return std::move(**answer);
}

Result<LockedVolumes, OsError> lock_and_dismount(uint32_t number,
                                                 const std::vector<VolumeInfo>& volumes,
                                                 const LockProgress& progress, Clock& clock) {
    DriveLocker locker(platform::volume_locker());
    return lock_and_dismount_with(number, volumes, progress, locker, clock);
}

}  // namespace sw
