// The DiskSystem seam over this machine's own disks: each call is one of the
// platform adapters, unchanged.
#include <memory>

#include "disk/disk_system.h"
#include "disk/platform_disks.h"
#include "disk/platform_health.h"

namespace sw {

namespace {

class PlatformDiskSystem final : public DiskSystem,
                                 public std::enable_shared_from_this<PlatformDiskSystem> {
  public:
    explicit PlatformDiskSystem(Clock& clock) : clock_(clock) {}

    Clock& clock() override { return clock_; }
    Result<std::vector<DeviceInfo>, OsError> enumerate_disks() override {
        return platform::enumerate_system_disks();
    }
    Result<std::vector<VolumeInfo>, OsError> enumerate_volumes() override {
        return platform::enumerate_system_volumes();
    }
    std::optional<UsbSpeed> usb_speed_of(const DeviceInfo& drive) override {
        return platform::usb_speed_of(drive);
    }
    std::vector<uint32_t> disks_backed_by(const std::string&) override { return {}; }
    Result<SystemPlaces, std::string> system_places() override { return platform::system_places(); }
    void add_held(std::vector<std::pair<uint32_t, std::string>>&) override {}
    DiskFact locate_path(const std::vector<VolumeInfo>& volumes, const std::string& path) override {
        return platform::locate_path(volumes, path);
    }
    Result<RawDevice, OsError> open_raw(uint32_t number, uint32_t sector, uint64_t size,
                                        const IoConfig& config) override {
        auto path = platform::disk_path(number);
        if (!path) return unexpected(path.error());
        auto disk = platform::open_async(*path, open_mode_of(config), slot_count_for(config.depth));
        if (!disk) return unexpected(disk.error());
        return RawDevice(std::move(*disk), number, sector, size, config, clock_);
    }
    std::unique_ptr<VolumeLocker> volume_locker() override { return platform::volume_locker(); }
    std::unique_ptr<EjectSystem> eject_system(uint32_t) override {
        return platform::eject_system(shared_from_this());
    }
    std::shared_ptr<FileOps> file_ops() override { return platform::file_ops(); }
    std::vector<FileTestTarget> file_test_targets(const DeviceInfo& drive) override {
        return platform::file_test_targets(drive, platform::enumerate_system_volumes());
    }
    std::optional<std::string> file_system_name(const FileTestTarget& target) override {
        return platform::file_system_name(target);
    }

  private:
    Clock& clock_;
};

}  // namespace

std::shared_ptr<DiskSystem> platform_disk_system(Clock& clock) {
    return std::make_shared<PlatformDiskSystem>(clock);
}

}  // namespace sw
