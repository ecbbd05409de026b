#include "machine/machine.h"

#include "core/system.h"

namespace sw {

namespace {

class PlatformMachine final : public Machine {
  public:
    explicit PlatformMachine(std::shared_ptr<DiskSystem> disks) : disks_(std::move(disks)) {}
    const std::shared_ptr<DiskSystem>& disks() override { return disks_; }
    Clock& clock() override { return disks_->clock(); }
    Result<std::unique_ptr<ImageReader>, std::string> open_image(const std::string& path) override {
        return open_image_file(path);
    }
    HttpTransport& http() override { return system_transport(); }
    Result<std::unique_ptr<PartialFile>, OsError> open_partial(
        const std::filesystem::path& path) override {
        return open_partial_file(path);
    }
    Result<uint64_t, OsError> free_space(const std::filesystem::path& folder) override {
        return platform::free_space(folder);
    }
    bool elevated() override { return platform::is_elevated(); }

  private:
    std::shared_ptr<DiskSystem> disks_;
};

}  // namespace

std::shared_ptr<Machine> platform_machine(std::shared_ptr<DiskSystem> disks) {
    return std::make_shared<PlatformMachine>(std::move(disks));
}

}  // namespace sw
