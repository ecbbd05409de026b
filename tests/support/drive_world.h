// The write job's world on simulated USB drives (development builds): the
// real drive layer (identification, volumes, locking, the platform's
// transfer engine with the drive's injected faults) and real image files.
// Only what lies outside this subsystem is stood in for: the system facts
// (answers of a machine whose system is elsewhere, as a file-backed drive
// always is), the write-acceptance probe (read the first 64 KiB and write
// them back, as the drive check does), the file-system diagnosis and eject.
// The engine's pauses (reopening, degrading) run on a fake clock.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "disk/drives.h"
#include "support/event_log.h"
#include "support/fake_clock.h"
#include "support/machine.h"
#include "writer/buffer.h"
#include "writer/write_job.h"

namespace sw::test {

class DriveWorld final : public WriteSystem {
  public:
    FakeClock device_clock;
    bool probe_does_io = true;
    bool real_facts = false;
    // Called before each identification with its number (from 1).
    std::function<void(int call)> before_identify;
    // Wraps the opened image (to act while it is read).
    std::function<std::unique_ptr<ImageReader>(std::unique_ptr<ImageReader>)> wrap_image;

    Clock& clock() override { return real_clock(); }
    void log(LogLevel level, std::string_view line) override { Logger::write(level, line); }

    Result<DeviceInfo, std::string> identify_drive(const DeviceIdentity& expected) override {
        int call = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            call = ++identify_calls_;
        }
        if (before_identify) before_identify(call);
        return sw::identify_drive(disks_, expected);
    }
    SystemFacts gather_system_facts(const std::optional<std::string>& image_path) override {
        if (real_facts) return sw::gather_system_facts(disks_, image_path);
        DiskFact none = std::vector<uint32_t>{};
        return SystemFacts{none, none, none, none, none, none};
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
        return device_disks_->open_raw(number, sector, size, config);
    }
    Result<WriteProbeTimes, WriteProbeFailure> probe_writable(RawDevice& device) override {
        record("probe");
        if (!probe_does_io) return WriteProbeTimes{};
        auto settings = device.use_settings(45000, 1, 65536);
        AlignedBuffer first(65536);
        if (auto r = device.read_at(0, first.bytes_mut()); !r)
            return unexpected(WriteProbeFailure{"raw read of the first 64 KiB", r.error()});
        if (auto w = device.write_at(0, first.bytes_mut()); !w) {
            device.cancel_all();
            return unexpected(WriteProbeFailure{"raw write-back of the first 64 KiB", w.error()});
        }
        return WriteProbeTimes{};
    }
    std::string filesystem_diagnosis(std::optional<char>) override {
        record("diagnosis");
        return "skipped (the drive has no drive letter)";
    }
    EjectOutcome eject_drive(const DeviceInfo&) override {
        record("eject");
        return {};
    }
    // The simulated drive counts the request.
    Result<void, std::string> refresh_layout(uint32_t number) override {
        record("refresh");
        return sw::refresh_layout(disks_, number);
    }
    Result<std::unique_ptr<ImageReader>, std::string> open_image(const std::string& path) override {
        auto image = open_image_file(path);
        if (image && wrap_image) return wrap_image(std::move(*image));
        return image;
    }

    std::vector<std::string> events() { return events_.all(); }

    // What the world's simulated drives went through.
    SimulatedStates& simulated_states() { return *states_; }
    // Starts the simulated drives afresh, as a new run of the program would.
    void restart_simulated_drives() {
        states_ = std::make_shared<SimulatedStates>();
        disks_ = dev_disks(real_clock(), states_);
        device_disks_ = dev_disks(device_clock, states_);
    }

  private:
    void record(std::string e) { events_.add(std::move(e)); }
    std::shared_ptr<SimulatedStates> states_ = std::make_shared<SimulatedStates>();
    std::shared_ptr<DiskSystem> disks_ = dev_disks(real_clock(), states_);
    // The engine's pauses run on the fake clock; the drives are the same.
    std::shared_ptr<DiskSystem> device_disks_ = dev_disks(device_clock, states_);
    std::mutex mutex_;
    int identify_calls_ = 0;
    EventLog events_;
};

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
