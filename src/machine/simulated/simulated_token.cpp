#include "machine/simulated/simulated_token.h"

#include "core/system.h"

namespace sw {

namespace {

class SimulatedToken final : public MachineWrapper {
  public:
    using MachineWrapper::MachineWrapper;
    bool elevated() override {
        if (platform::env_var("ORTIVEX_SIMULATED_UNELEVATED") == "1") return false;
        return base().elevated();
    }
};

}  // namespace

std::shared_ptr<Machine> with_simulated_token(std::shared_ptr<Machine> base) {
    return std::make_shared<SimulatedToken>(std::move(base));
}

}  // namespace sw
