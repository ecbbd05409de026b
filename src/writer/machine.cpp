// The write job's world on this machine: the drive layer, the drive check's
// probe and diagnosis, eject, image files and the run log.
#include "disk/drives.h"
#include "disk/eject.h"
#include "disk/health.h"
#include "image/image_reader.h"
#include "writer/write_job.h"

namespace sw {

namespace {

class MachineWriteSystem final : public WriteSystem {
  public:
    Clock& clock() override { return real_clock(); }
    void log(LogLevel level, std::string_view line) override { Logger::write(level, line); }
    Result<DeviceInfo, std::string> identify_drive(const DeviceIdentity& expected) override {
        return sw::identify_drive(expected);
    }
    SystemFacts gather_system_facts(const std::optional<std::string>& image_path) override {
        return sw::gather_system_facts(image_path);
    }
    Result<std::vector<VolumeInfo>, OsError> enumerate_volumes() override {
        return sw::enumerate_volumes();
    }
    Result<LockedVolumes, OsError> lock_and_dismount(uint32_t number,
                                                     const std::vector<VolumeInfo>& volumes,
                                                     const LockProgress& progress) override {
        return sw::lock_and_dismount(number, volumes, progress);
    }
    Result<RawDevice, OsError> open_raw(uint32_t number, uint32_t sector, uint64_t size,
                                        const IoConfig& config) override {
        return sw::open_raw(number, sector, size, config);
    }
    Result<WriteProbeTimes, WriteProbeFailure> probe_writable(RawDevice& device) override {
        return sw::probe_writable(device);
    }
    std::string filesystem_diagnosis(std::optional<char> letter) override {
        return sw::filesystem_diagnosis(letter);
    }
    EjectOutcome eject_drive(const DeviceInfo& drive) override { return sw::eject_drive(drive); }
    Result<std::unique_ptr<ImageReader>, std::string> open_image(const std::string& path) override {
        return open_image_file(path);
    }
};

}  // namespace

std::shared_ptr<WriteSystem> machine_write_system() {
    static const std::shared_ptr<WriteSystem> machine = std::make_shared<MachineWriteSystem>();
    return machine;
}

}  // namespace sw
