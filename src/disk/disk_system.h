// The seam between the drive rules and the machine: every disk, volume, raw
// device, system fact, eject and drive-check file the rules reach, and the
// clock they wait on, come through this one interface. The platform's
// implementation (platform_disk_system) is a thin layer over the operating
// system; development builds may wrap it in a decorator that adds simulated
// drives, chosen once where the program starts. The rules never ask which
// one they talk to.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/clock.h"
#include "core/os_error.h"
#include "core/result.h"
#include "disk/device_info.h"
#include "disk/eject_steps.h"
#include "disk/facts.h"
#include "disk/health_check.h"
#include "disk/raw_device.h"

namespace sw {

class DiskSystem {
  public:
    virtual ~DiskSystem() = default;

    // Pauses, time limits and the transfer engine's timers.
    virtual Clock& clock() = 0;

    // Every present disk, sorted by number, without letters and speeds. Fails
    // only when the walk cannot start; disks that do not answer are left out.
    virtual Result<std::vector<DeviceInfo>, OsError> enumerate_disks() = 0;
    // Every volume with the disks it rests on. Fails only when the search
    // cannot start.
    virtual Result<std::vector<VolumeInfo>, OsError> enumerate_volumes() = 0;
    // The connection speed of a listed USB disk, when it can be learned.
    virtual std::optional<UsbSpeed> usb_speed_of(const DeviceInfo& drive) = 0;
    // Disks whose content is the very file `path` names although no volume
    // says so (a simulated drive backed by it); none on a real system.
    virtual std::vector<uint32_t> disks_backed_by(const std::string& path) = 0;

    // Where the running system keeps itself, its boot files, its swap and
    // this program, as the system names them; gather_system_facts turns them
    // into disks through this seam's volumes. Fails only when none of them
    // can be learned.
    virtual Result<SystemPlaces, std::string> system_places() = 0;
    // Adds to the disks the system holds those held through them or for
    // reasons of their own (a simulated drive that aliases a held disk or
    // cannot be opened); none on a real system.
    virtual void add_held(std::vector<std::pair<uint32_t, std::string>>& held) = 0;
    // The disks holding `path` (Windows: through the volume that holds it;
    // Linux: through the block device of its file system).
    virtual DiskFact locate_path(const std::vector<VolumeInfo>& volumes,
                                 const std::string& path) = 0;

    // Opens disk `number` for raw transfers with `config` (depth clamped to
    // 1..16). `sector` is its logical sector size, `size` its size.
    virtual Result<RawDevice, OsError> open_raw(uint32_t number, uint32_t sector, uint64_t size,
                                                const IoConfig& config) = 0;
    // Locks and dismounts volumes, and holds a disk for one job.
    virtual std::unique_ptr<VolumeLocker> volume_locker() = 0;
    // Eject requests and the layout refresh for disk `number`.
    virtual std::unique_ptr<EjectSystem> eject_system(uint32_t number) = 0;

    // The drive check's file test: the files, where they go, and the file
    // system found there.
    virtual std::shared_ptr<FileOps> file_ops() = 0;
    virtual std::vector<FileTestTarget> file_test_targets(const DeviceInfo& drive) = 0;
    virtual std::optional<std::string> file_system_name(const FileTestTarget& target) = 0;
};

// This machine's disks as the operating system reports them, waiting on `clock`.
std::shared_ptr<DiskSystem> platform_disk_system(Clock& clock);

// Delegates everything to another system; a decorator overrides only what it
// replaces.
class DiskSystemWrapper : public DiskSystem {
  public:
    explicit DiskSystemWrapper(std::shared_ptr<DiskSystem> base) : base_(std::move(base)) {}

    Clock& clock() override { return base_->clock(); }
    Result<std::vector<DeviceInfo>, OsError> enumerate_disks() override {
        return base_->enumerate_disks();
    }
    Result<std::vector<VolumeInfo>, OsError> enumerate_volumes() override {
        return base_->enumerate_volumes();
    }
    std::optional<UsbSpeed> usb_speed_of(const DeviceInfo& drive) override {
        return base_->usb_speed_of(drive);
    }
    std::vector<uint32_t> disks_backed_by(const std::string& path) override {
        return base_->disks_backed_by(path);
    }
    Result<SystemPlaces, std::string> system_places() override { return base_->system_places(); }
    void add_held(std::vector<std::pair<uint32_t, std::string>>& held) override {
        base_->add_held(held);
    }
    DiskFact locate_path(const std::vector<VolumeInfo>& volumes, const std::string& path) override {
        return base_->locate_path(volumes, path);
    }
    Result<RawDevice, OsError> open_raw(uint32_t number, uint32_t sector, uint64_t size,
                                        const IoConfig& config) override {
        return base_->open_raw(number, sector, size, config);
    }
    std::unique_ptr<VolumeLocker> volume_locker() override { return base_->volume_locker(); }
    std::unique_ptr<EjectSystem> eject_system(uint32_t number) override {
        return base_->eject_system(number);
    }
    std::shared_ptr<FileOps> file_ops() override { return base_->file_ops(); }
    std::vector<FileTestTarget> file_test_targets(const DeviceInfo& drive) override {
        return base_->file_test_targets(drive);
    }
    std::optional<std::string> file_system_name(const FileTestTarget& target) override {
        return base_->file_system_name(target);
    }

  protected:
    DiskSystem& base() { return *base_; }

  private:
    std::shared_ptr<DiskSystem> base_;
};

}  // namespace sw
