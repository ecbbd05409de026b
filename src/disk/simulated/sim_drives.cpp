#include "disk/simulated/sim_drives.h"

#include <algorithm>
#include <mutex>

#include "core/text.h"
#include "disk/platform_disks.h"
#include "disk/simulated/backing.h"
#include "disk/simulated/simulated.h"
#include "logging/logger.h"
#include "core/system.h"

namespace sw::simulated {

namespace {

struct Present {
    SimulatedDrive sim;
    platform::Backing backing;
    std::vector<uint32_t> aliases;  // system disks that are views of the same data
};

SimulatedParse configured() {
    auto text = platform::env_var(kSimulatedDrivesVariable);
    if (!text) return {};
    SimulatedParse parse = parse_simulated_drives(*text);
    // Each distinct setting is reported once per run, not at every scan.
    static std::mutex mutex;
    static std::string reported;
    std::lock_guard<std::mutex> lock(mutex);
    if (reported != *text) {
        reported = *text;
        for (const auto& problem : parse.problems)
            Logger::write(LogLevel::Warn, problem);
    }
    return parse;
}

std::vector<Present> present(SimulatedStates& states) {
    std::vector<Present> out;
    auto parse = configured();
    if (parse.drives.empty()) return out;
    std::vector<std::pair<uint32_t, platform::FileIdentity>> loops;
    bool loops_read = false;
    for (auto& sim : parse.drives) {
        if (states.of(sim)->removed) continue;
        auto backing = platform::probe_backing(sim.path);
        if (!backing) continue;
        Present p{std::move(sim), *backing, {}};
        if (backing->disk_number) p.aliases.push_back(*backing->disk_number);
        if (backing->identity) {
            if (!loops_read) {
                loops = platform::file_backed_disks();
                loops_read = true;
            }
            for (const auto& [number, identity] : loops)
                if (identity == *backing->identity) add_unique(p.aliases, number);
        }
        out.push_back(std::move(p));
    }
    return out;
}

uint32_t logical_of(const Present& p) {
    return p.backing.logical_sector.value_or(p.sim.sector);
}

}  // namespace

std::optional<SimulatedDrive> configured_drive(uint32_t number) {
    if (!is_simulated_number(number)) return std::nullopt;
    for (auto& sim : configured().drives)
        if (sim.number() == number) return sim;
    return std::nullopt;
}

void add_disks(SimulatedStates& states, std::vector<DeviceInfo>& disks) {
    bool collision = std::any_of(disks.begin(), disks.end(),
                                 [](const DeviceInfo& d) { return is_simulated_number(d.number); });
    auto drives = present(states);
    if (drives.empty()) return;
    if (collision) {
        Logger::write(LogLevel::Warn,
                      "simulated drives left out: a system disk uses their number range");
        return;
    }
    for (const auto& p : drives) {
        uint32_t logical = logical_of(p);
        disks.push_back(simulated_record(p.sim, p.backing.size, logical,
                                         p.backing.physical_sector.value_or(logical)));
    }
}

void add_to_volumes(SimulatedStates& states, std::vector<VolumeInfo>& volumes) {
    auto drives = present(states);
    for (auto& volume : volumes) {
        for (const auto& p : drives) {
            bool aliased = std::any_of(p.aliases.begin(), p.aliases.end(), [&](uint32_t n) {
                return std::find(volume.disks.begin(), volume.disks.end(), n) != volume.disks.end();
            });
            if (aliased) add_unique(volume.disks, p.sim.number());
        }
    }
}

std::vector<uint32_t> disks_holding(SimulatedStates& states, const std::string& path) {
    std::vector<uint32_t> out;
    auto drives = present(states);
    if (drives.empty()) return out;
    auto identity = platform::file_identity(path);
    if (!identity) return out;
    for (const auto& p : drives)
        if (p.backing.identity && *p.backing.identity == *identity) out.push_back(p.sim.number());
    return out;
}

void add_held(SimulatedStates& states, std::vector<std::pair<uint32_t, std::string>>& held) {
    const auto system_held = held;
    for (const auto& p : present(states)) {
        if (p.backing.open_refused) {
            held.emplace_back(p.sim.number(), fmt("{} cannot be opened for writing: {}", p.sim.path,
                                                  p.backing.open_refused->text));
            continue;
        }
        for (const auto& [disk, reason] : system_held)
            if (std::find(p.aliases.begin(), p.aliases.end(), disk) != p.aliases.end()) {
                held.emplace_back(p.sim.number(), reason);
                break;
            }
    }
}

std::optional<UsbSpeed> speed_of(uint32_t number) {
    auto sim = configured_drive(number);
    if (!sim) return std::nullopt;
    return sim->usb;
}

Result<RawDevice, OsError> open(SimulatedStates& states, uint32_t number, uint32_t sector,
                                uint64_t size, const IoConfig& config, Clock& clock) {
    auto sim = configured_drive(number);
    if (!sim) return unexpected(platform::simulated_error(platform::SimulatedError::Gone));
    auto state = states.of(*sim);
    if (state->removed)
        return unexpected(platform::simulated_error(platform::SimulatedError::Gone));
    size_t slots = slot_count_for(config.depth);
    auto inner = platform::open_async(sim->path, open_mode_of(config), slots);
    if (!inner) return unexpected(inner.error());
    auto disk = std::make_unique<FaultInjectingDisk>(
        std::move(*inner), std::move(state), sim->faults, size, clock, open_mode_of(config));
    return RawDevice(std::move(disk), number, sector, size, config, clock);
}

namespace {

// Several claims held as one.
class Claims final : public VolumeLock {
  public:
    std::vector<std::unique_ptr<VolumeLock>> held;
};

}  // namespace

Result<std::unique_ptr<VolumeLock>, OsError> claim(SimulatedStates& states, uint32_t number,
                                                   const DiskLockStep& claim_system_disk) {
    for (auto& p : present(states)) {
        if (p.sim.number() != number) continue;
        auto claims = std::make_unique<Claims>();
        if (!p.backing.disk_number) {
            auto own = platform::claim_path(p.sim.path);
            if (!own) return unexpected(own.error());
            claims->held.push_back(std::move(*own));
        }
        for (uint32_t alias : p.aliases) {
            auto other = claim_system_disk(alias);
            if (!other) return unexpected(other.error());
            claims->held.push_back(std::move(*other));
        }
        return std::unique_ptr<VolumeLock>(std::move(claims));
    }
    return unexpected(platform::simulated_error(platform::SimulatedError::Gone));
}

Result<std::unique_ptr<VolumeLock>, OsError> hold(
    uint32_t number,
    const std::function<Result<std::unique_ptr<VolumeLock>, OsError>(uint32_t)>& hold_system_disk) {
    auto sim = configured_drive(number);
    if (!sim) return unexpected(platform::simulated_error(platform::SimulatedError::Gone));
    auto backing = platform::probe_backing(sim->path);
    if (!backing) return unexpected(backing.error());
    if (backing->disk_number) return hold_system_disk(*backing->disk_number);
    return std::unique_ptr<VolumeLock>();
}

}  // namespace sw::simulated
