// The write job's world on a Machine: its drives, the drive check's probe
// and diagnosis, eject, image files and the run log.
#include "disk/drives.h"
#include "disk/eject.h"
#include "disk/health.h"
#include "writer/write_job.h"

namespace sw {

namespace {

class MachineWriteSystem final : public WriteSystem {
  public:
    explicit MachineWriteSystem(std::shared_ptr<Machine> machine)
        : machine_(std::move(machine)), disks_(machine_->disks()) {}
    Clock& clock() override { return machine_->clock(); }
    void log(LogLevel level, std::string_view line) override { Logger::write(level, line); }
    Result<DeviceInfo, std::string> identify_drive(const DeviceIdentity& expected) override {
        return sw::identify_drive(disks_, expected);
    }
    SystemFacts gather_system_facts(const std::optional<std::string>& image_path) override {
        return sw::gather_system_facts(disks_, image_path);
    }
    Result<std::vector<VolumeInfo>, OsError> enumerate_volumes() override {
        return disks_->enumerate_volumes();
    }
    Result<LockedVolumes, OsError> lock_and_dismount(uint32_t number,
                                                     const std::vector<VolumeInfo>& volumes,
                                                     const LockProgress& progress) override {
        return sw::lock_and_dismount(disks_, number, volumes, progress);
    }
    Result<RawDevice, OsError> open_raw(uint32_t number, uint32_t sector, uint64_t size,
                                        const IoConfig& config) override {
        return disks_->open_raw(number, sector, size, config);
    }
    Result<WriteProbeTimes, WriteProbeFailure> probe_writable(RawDevice& device) override {
        return sw::probe_writable(disks_, device);
    }
    std::string filesystem_diagnosis(std::optional<char> letter) override {
        return sw::filesystem_diagnosis(disks_, letter);
    }
    EjectOutcome eject_drive(const DeviceInfo& drive) override {
        return sw::eject_drive(disks_, drive);
    }
    Result<void, std::string> refresh_layout(uint32_t number) override {
        return sw::refresh_layout(disks_, number);
    }
    Result<std::unique_ptr<ImageReader>, std::string> open_image(const std::string& path) override {
        return machine_->open_image(path);
    }

  private:
    std::shared_ptr<Machine> machine_;
    std::shared_ptr<DiskSystem> disks_;
};

}  // namespace

std::shared_ptr<WriteSystem> machine_write_system(std::shared_ptr<Machine> machine) {
    return std::make_shared<MachineWriteSystem>(std::move(machine));
}

}  // namespace sw
