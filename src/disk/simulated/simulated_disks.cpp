#include "disk/simulated/simulated_disks.h"

#include <algorithm>

#include "disk/platform_health.h"
#include "disk/simulated/sim_drives.h"
#include "disk/simulated/sim_eject.h"
#include "disk/simulated/simulated.h"
#include "disk/simulated/system_disk.h"

namespace sw {

namespace {

// The base's locker, with simulated drives claimed and held the way their
// backing asks.
class SimulatedLocker final : public VolumeLocker {
  public:
    SimulatedLocker(std::unique_ptr<VolumeLocker> base, std::shared_ptr<SimulatedStates> states)
        : base_(std::move(base)), states_(std::move(states)) {}
    Result<std::unique_ptr<VolumeLock>, OsError> open(const VolumeInfo& volume) override {
        return base_->open(volume);
    }
    Result<void, OsError> lock(VolumeLock& volume, uint32_t ms) override {
        return base_->lock(volume, ms);
    }
    Result<void, OsError> dismount(VolumeLock& volume, uint32_t ms) override {
        return base_->dismount(volume, ms);
    }
    std::string_view lock_name() const override { return base_->lock_name(); }
    std::string_view dismount_name() const override { return base_->dismount_name(); }
    Result<std::unique_ptr<VolumeLock>, OsError> claim(uint32_t number) override {
        if (!is_simulated_number(number)) return base_->claim(number);
        return simulated::claim(*states_, number, [this](uint32_t n) { return base_->claim(n); });
    }
    Result<std::unique_ptr<VolumeLock>, OsError> hold_disk(uint32_t number) override {
        if (!is_simulated_number(number)) return base_->hold_disk(number);
        return simulated::hold(number, [this](uint32_t n) { return base_->hold_disk(n); });
    }

  private:
    std::unique_ptr<VolumeLocker> base_;
    std::shared_ptr<SimulatedStates> states_;
};

class SimulatedDisks final : public DiskSystemWrapper,
                             public std::enable_shared_from_this<SimulatedDisks> {
  public:
    SimulatedDisks(std::shared_ptr<DiskSystem> base, std::shared_ptr<SimulatedStates> states)
        : DiskSystemWrapper(std::move(base)), states_(std::move(states)) {}

    Result<std::vector<DeviceInfo>, OsError> enumerate_disks() override {
        auto disks = base().enumerate_disks();
        if (!disks) return disks;
        simulated::add_disks(*states_, *disks);
        sort_by_number(*disks);
        return disks;
    }
    Result<std::vector<VolumeInfo>, OsError> enumerate_volumes() override {
        auto volumes = base().enumerate_volumes();
        if (!volumes) return volumes;
#ifdef _WIN32
        // Only where a volume without disks means the system could not tell
        // them: on Linux it means a volume on no disk at all (RAM).
        simulated::apply_system_disk(*volumes);
#endif
        simulated::add_to_volumes(*states_, *volumes);
        return volumes;
    }
    void add_held(std::vector<std::pair<uint32_t, std::string>>& held) override {
        base().add_held(held);
        // A view of a held disk is held as well; a drive this run cannot
        // open would only fail once chosen.
        simulated::add_held(*states_, held);
    }
    std::optional<UsbSpeed> usb_speed_of(const DeviceInfo& drive) override {
        if (!is_simulated_number(drive.number)) return base().usb_speed_of(drive);
        return simulated::speed_of(drive.number);
    }
    std::vector<uint32_t> disks_backed_by(const std::string& path) override {
        auto disks = base().disks_backed_by(path);
        for (uint32_t n : simulated::disks_holding(*states_, path))
            if (std::find(disks.begin(), disks.end(), n) == disks.end()) disks.push_back(n);
        return disks;
    }
    Result<RawDevice, OsError> open_raw(uint32_t number, uint32_t sector, uint64_t size,
                                        const IoConfig& config) override {
        if (!is_simulated_number(number)) return base().open_raw(number, sector, size, config);
        return simulated::open(*states_, number, sector, size, config, clock());
    }
    std::unique_ptr<VolumeLocker> volume_locker() override {
        return std::make_unique<SimulatedLocker>(base().volume_locker(), states_);
    }
    std::unique_ptr<EjectSystem> eject_system(uint32_t number) override {
        if (!is_simulated_number(number)) return base().eject_system(number);
        return simulated::eject_system(shared_from_this(), states_);
    }
    std::vector<FileTestTarget> file_test_targets(const DeviceInfo& drive) override {
        if (!is_simulated_number(drive.number)) return base().file_test_targets(drive);
        // A simulated drive's file systems are those of the volumes it aliases.
        return platform::file_test_targets(drive, enumerate_volumes());
    }

  private:
    std::shared_ptr<SimulatedStates> states_;
};

}  // namespace

std::shared_ptr<DiskSystem> with_simulated_drives(std::shared_ptr<DiskSystem> base,
                                                  std::shared_ptr<SimulatedStates> states) {
    return std::make_shared<SimulatedDisks>(std::move(base), std::move(states));
}

}  // namespace sw
