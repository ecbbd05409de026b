#include "disk/simulated/simulated_token.h"

#include "platform/system.h"

namespace sw {

namespace {

class SimulatedToken final : public Machine {
  public:
    explicit SimulatedToken(std::shared_ptr<Machine> base) : base_(std::move(base)) {}
    const std::shared_ptr<DiskSystem>& disks() override { return base_->disks(); }
    Clock& clock() override { return base_->clock(); }
    Result<std::unique_ptr<ImageReader>, std::string> open_image(const std::string& path) override {
        return base_->open_image(path);
    }
    HttpTransport& http() override { return base_->http(); }
    bool elevated() override {
        if (platform::env_var("ORTIVEX_SIMULATED_UNELEVATED") == "1") return false;
        return base_->elevated();
    }

  private:
    std::shared_ptr<Machine> base_;
};

}  // namespace

std::shared_ptr<Machine> with_simulated_token(std::shared_ptr<Machine> base) {
    return std::make_shared<SimulatedToken>(std::move(base));
}

}  // namespace sw
