#include "disk/simulated/sim_eject.h"

#include "core/text.h"
#include "disk/drives.h"
#include "disk/platform_disks.h"
#include "disk/simulated/backing.h"
#include "disk/simulated/sim_drives.h"
#include "disk/simulated/simulated.h"
#include "logging/logger.h"

namespace sw::simulated {

namespace {

class SimulatedEject final : public EjectSystem {
  public:
    SimulatedEject(std::shared_ptr<DiskSystem> disks, std::shared_ptr<SimulatedStates> states)
        : disks_(std::move(disks)), states_(std::move(states)) {}
    Result<DeviceInfo, std::string> identify(const DeviceIdentity& expected) override {
        return identify_drive(disks_, expected);
    }
    // A file has no device above it: the drive is ejected through itself.
    std::optional<EjectTarget> parent_of(const DeviceInfo&) override { return std::nullopt; }
    EjectTarget own_node(const DeviceInfo& disk) override {
        auto sim = configured_drive(disk.number);
        return EjectTarget{disk.dev_inst, sim ? sim->path : std::string(), false};
    }
    Result<void, std::string> request_eject(const DeviceInfo& disk, const EjectTarget&) override {
        auto sim = configured_drive(disk.number);
        if (!sim) return unexpected(fmt("simulated drive {} is not configured", disk.number));
        auto state = states_->of(*sim);
        ++state->eject_requests;
        if (state->removed)
            return unexpected(fmt("simulated drive {} is no longer present", disk.number));
        // What a real eject does first: whatever the device still caches
        // reaches the medium.
        auto backing = platform::open_async(sim->path, OpenMode{false, false}, 1);
        if (!backing) return unexpected(fmt("flushing {}: {}", sim->path, backing.error().text));
        if (auto flushed = (*backing)->flush(); !flushed)
            return unexpected(fmt("flushing {}: {}", sim->path, flushed.error().text));
        state->removed = true;
        Logger::write(LogLevel::Info,
                      fmt("simulated drive {} ejected ({})", disk.number, sim->path));
        return {};
    }
    Result<void, OsError> refresh_layout(uint32_t number) override {
        auto sim = configured_drive(number);
        if (!sim) return unexpected(platform::simulated_error(platform::SimulatedError::Gone));
        auto state = states_->of(*sim);
        ++state->layout_refreshes;
        if (state->removed)
            return unexpected(platform::simulated_error(platform::SimulatedError::Gone));
        // A drive that stands in for a disk of the system (a loop device)
        // passes the request on, so that the system sees its new table.
        auto backing = platform::probe_backing(sim->path);
        if (backing && backing->disk_number)
            return disks_->eject_system(*backing->disk_number)
                ->refresh_layout(*backing->disk_number);
        return {};
    }
    std::string_view refresh_name() const override {
#ifdef _WIN32
        return "IOCTL_DISK_UPDATE_PROPERTIES";
#else
        return "BLKRRPART";
#endif
    }

  private:
    std::shared_ptr<DiskSystem> disks_;
    std::shared_ptr<SimulatedStates> states_;
};

}  // namespace

std::unique_ptr<EjectSystem> eject_system(std::shared_ptr<DiskSystem> disks,
                                          std::shared_ptr<SimulatedStates> states) {
    return std::make_unique<SimulatedEject>(std::move(disks), std::move(states));
}

}  // namespace sw::simulated
