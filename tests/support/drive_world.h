// The write job's world on simulated USB drives (development builds): the
// real drive layer (identification, volumes, locking, the write probe, the
// platform's transfer engine with the drive's injected faults) and real
// image files. Only what lies outside this subsystem is stood in for: the
// system facts (answers of a machine whose system is elsewhere, as a
// file-backed drive always is) and the eject itself, which is recorded and
// accepted. The engine's pauses (reopening, degrading) run on a fake clock.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "disk/drives.h"
#include "disk/eject_steps.h"
#include "machine/machine.h"
#include "support/event_log.h"
#include "support/fake_clock.h"
#include "support/machine.h"
#include "writer/write_job.h"

namespace sw::test {

// Eject requests recorded and accepted without detaching anything; layout
// refreshes recorded and passed on to the simulated drive, which counts them.
class RecordedEject final : public EjectSystem {
  public:
    RecordedEject(std::unique_ptr<EjectSystem> base, std::function<void(std::string)> record)
        : base_(std::move(base)), record_(std::move(record)) {}
    Result<DeviceInfo, std::string> identify(const DeviceIdentity& expected) override {
        return base_->identify(expected);
    }
    std::optional<EjectTarget> parent_of(const DeviceInfo& disk) override {
        return base_->parent_of(disk);
    }
    EjectTarget own_node(const DeviceInfo& disk) override { return base_->own_node(disk); }
    Result<void, std::string> request_eject(const DeviceInfo&, const EjectTarget&) override {
        record_("eject");
        return {};
    }
    Result<void, OsError> refresh_layout(uint32_t number) override {
        record_("refresh");
        return base_->refresh_layout(number);
    }
    std::string_view refresh_name() const override { return base_->refresh_name(); }

  private:
    std::unique_ptr<EjectSystem> base_;
    std::function<void(std::string)> record_;
};

class DriveWorld final : public DiskSystemWrapper {
  public:
    DriveWorld() : DriveWorld(std::make_shared<SimulatedStates>()) {}

    FakeClock device_clock;
    bool real_facts = false;
    // Called before each identification with its number (from 1).
    std::function<void(int call)> before_identify;
    // Wraps the opened image (to act while it is read).
    std::function<std::unique_ptr<ImageReader>(std::unique_ptr<ImageReader>)> wrap_image;

    Result<std::vector<DeviceInfo>, OsError> enumerate_disks() override {
        int call = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            call = ++identify_calls_;
        }
        if (before_identify) before_identify(call);
        return DiskSystemWrapper::enumerate_disks();
    }
    // Unless `real_facts`: a machine whose system is elsewhere, as a
    // file-backed drive's always is, and an image on no disk.
    Result<SystemPlaces, std::string> system_places() override {
        if (real_facts) return DiskSystemWrapper::system_places();
        SystemPlaces places;
        places.system = std::vector<std::string>{"elsewhere"};
        places.boot = std::string("elsewhere");
        places.boot_partition = BootPartitionPlace{"elsewhere", {}};
        places.swap = std::vector<SwapPlace>{{"elsewhere"}};
        places.executable = std::string("elsewhere");
        return places;
    }
    DiskFact locate_path(const std::vector<VolumeInfo>& volumes, const std::string& path) override {
        if (real_facts) return DiskSystemWrapper::locate_path(volumes, path);
        return std::vector<uint32_t>{};
    }
    std::vector<uint32_t> disks_backed_by(const std::string& path) override {
        if (real_facts) return DiskSystemWrapper::disks_backed_by(path);
        return {};
    }
    void add_held(std::vector<std::pair<uint32_t, std::string>>& held) override {
        if (real_facts) DiskSystemWrapper::add_held(held);
    }
    Result<RawDevice, OsError> open_raw(uint32_t number, uint32_t sector, uint64_t size,
                                        const IoConfig& config) override {
        return device_disks_->open_raw(number, sector, size, config);
    }
    std::unique_ptr<EjectSystem> eject_system(uint32_t number) override {
        return std::make_unique<RecordedEject>(DiskSystemWrapper::eject_system(number),
                                               [this](std::string e) { record(std::move(e)); });
    }

    std::vector<std::string> events() { return events_.all(); }

    // What the world's simulated drives went through.
    SimulatedStates& simulated_states() { return *states_; }

  private:
    explicit DriveWorld(std::shared_ptr<SimulatedStates> states)
        : DiskSystemWrapper(dev_disks(real_clock(), states)), states_(std::move(states)) {}
    void record(std::string e) { events_.add(std::move(e)); }
    std::shared_ptr<SimulatedStates> states_;
    // The engine's pauses run on the fake clock; the drives are the same.
    std::shared_ptr<DiskSystem> device_disks_ = dev_disks(device_clock, states_);
    std::mutex mutex_;
    int identify_calls_ = 0;
    EventLog events_;
};

// The machine over a DriveWorld: its drives and clock, and real image files
// (wrapped as the world asks).
class DriveWorldMachine final : public MachineWrapper {
  public:
    explicit DriveWorldMachine(std::shared_ptr<DriveWorld> world)
        : MachineWrapper(platform_machine(world)), world_(std::move(world)) {}
    Result<std::unique_ptr<ImageReader>, std::string> open_image(const std::string& path) override {
        auto image = open_image_file(path);
        if (image && world_->wrap_image) return world_->wrap_image(std::move(*image));
        return image;
    }

  private:
    std::shared_ptr<DriveWorld> world_;
};

inline std::shared_ptr<Machine> machine_of(std::shared_ptr<DriveWorld> world) {
    return std::make_shared<DriveWorldMachine>(std::move(world));
}

// An image reader that calls `at` once when a read reaches `offset`.
class TrippingImage final : public ImageReader {
  public:
    TrippingImage(std::unique_ptr<ImageReader> inner, uint64_t offset, std::function<void()> at)
        : inner_(std::move(inner)), offset_(offset), at_(std::move(at)) {}
    uint64_t size() const override { return inner_->size(); }
    Result<void, OsError> read_at(uint64_t offset, std::span<uint8_t> out) const override {
        if (at_ && offset + out.size() > offset_) {
            at_();
            at_ = nullptr;
        }
        return inner_->read_at(offset, out);
    }

  private:
    std::unique_ptr<ImageReader> inner_;
    uint64_t offset_;
    mutable std::function<void()> at_;
};

}  // namespace sw::test
