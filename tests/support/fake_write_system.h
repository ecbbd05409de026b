// The write job's world as fakes: a drive that is a scriptable FakeDisk, an
// image in memory, answers for identification, facts, volumes, locking, the
// write probe, the diagnosis and eject, and one ordered record of what
// happened (opened, closed, released, ejected) and of every log line.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "support/fake_clock.h"
#include "support/event_log.h"
#include "support/fake_disk.h"
#include "support/gate.h"
#include "support/recording_log.h"
#include "writer/write_job.h"

namespace sw::test {

// The RawDevice's disk: forwards to a FakeDisk that the test keeps, so that
// its bytes can be looked at after the job has closed the device.
class SharedDisk final : public AsyncDisk {
  public:
    SharedDisk(std::shared_ptr<FakeDisk> disk, std::shared_ptr<EventLog> events)
        : disk_(std::move(disk)), events_(std::move(events)) {}
    ~SharedDisk() override { events_->add("device closed"); }
    size_t slots() const override { return disk_->slots(); }
    Result<void, OsError> issue(size_t slot, IoDirection d, uint64_t offset, std::byte* data,
                                size_t length) override {
        return disk_->issue(slot, d, offset, data, length);
    }
    SlotOutcome wait(size_t slot, uint32_t ms) override { return disk_->wait(slot, ms); }
    void cancel(size_t slot) override { disk_->cancel(slot); }
    void cancel_all() override {
        events_->add("cancel all");
        disk_->cancel_all();
    }
    Result<void, OsError> flush() override { return disk_->flush(); }
    Result<void, OsError> reopen(const OpenMode& mode) override { return disk_->reopen(mode); }
    Result<void, OsError> query_writable(uint32_t ms) override { return disk_->query_writable(ms); }

  private:
    std::shared_ptr<FakeDisk> disk_;
    std::shared_ptr<EventLog> events_;
};

class RecordingLock final : public VolumeLock {
  public:
    RecordingLock(std::shared_ptr<EventLog> events, std::string name)
        : events_(std::move(events)), name_(std::move(name)) {}
    ~RecordingLock() override { events_->add("released " + name_); }

  private:
    std::shared_ptr<EventLog> events_;
    std::string name_;
};

class FakeWriteSystem final : public WriteSystem {
  public:
    FakeWriteSystem(DeviceInfo drive_record, std::string image_bytes, uint32_t slots = 16)
        : drive(std::move(drive_record)),
          image(std::move(image_bytes)),
          disk(std::make_shared<FakeDisk>(slots, fake_clock, drive.size)) {}
    ~FakeWriteSystem() override { gate->open(); }

    FakeClock fake_clock;
    std::shared_ptr<EventLog> events = std::make_shared<EventLog>();
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    DeviceInfo drive;
    std::string image;
    std::shared_ptr<FakeDisk> disk;
    std::vector<VolumeInfo> volumes;

    // Hooks; each may stay empty for the default answer.
    std::function<Result<DeviceInfo, std::string>(int call)> on_identify;  // calls count from 1
    std::function<SystemFacts()> on_facts;
    std::function<Result<std::vector<VolumeInfo>, OsError>()> on_volumes;
    std::function<std::optional<OsError>()> on_lock;
    std::function<std::optional<OsError>()> on_open;
    std::function<Result<WriteProbeTimes, WriteProbeFailure>(RawDevice&)> on_probe;
    std::function<std::string(std::optional<char>)> on_diagnosis;
    std::function<EjectOutcome()> on_eject;
    std::function<Result<std::unique_ptr<ImageReader>, std::string>()> on_open_image;

    // Makes `gate` stand for a call that hangs past the caller's time limit
    // of `limit` on the fake clock, and gives it to the hook that waits there.
    std::shared_ptr<Gate> hang_past(std::chrono::milliseconds limit) {
        gate = std::make_shared<Gate>(fake_clock, limit);
        return gate;
    }

    Clock& clock() override { return fake_clock; }
    void log(LogLevel level, std::string_view line) override { Logger::write(level, line); }
    // What was logged while this system lived, the engine's lines included.
    std::vector<std::pair<LogLevel, std::string>> lines() { return recorded_.lines(); }
    std::vector<std::string> texts() { return recorded_.texts(); }
    bool logged(std::string_view needle) {
        for (const auto& t : texts())
            if (t.find(needle) != std::string::npos) return true;
        return false;
    }
    int identify_calls() const { return identify_calls_.load(); }

    Result<DeviceInfo, std::string> identify_drive(const DeviceIdentity& expected) override {
        int call = ++identify_calls_;
        events->add("identify");
        if (on_identify) return on_identify(call);
        if (expected != identity_of(drive)) return unexpected(std::string("not the same drive"));
        DeviceInfo found = drive;
        found.letters.clear();  // as the disk walk answers
        return found;
    }
    SystemFacts gather_system_facts(const std::optional<std::string>& image_path) override {
        events->add("facts " + image_path.value_or("-"));
        if (on_facts) return on_facts();
        DiskFact none = std::vector<uint32_t>{};
        return SystemFacts{none, none, none, none, none, none};
    }
    Result<std::vector<VolumeInfo>, OsError> enumerate_volumes() override {
        events->add("volumes");
        if (on_volumes) return on_volumes();
        return volumes;
    }
    Result<LockedVolumes, OsError> lock_and_dismount(uint32_t number,
                                                     const std::vector<VolumeInfo>& list,
                                                     const LockProgress& progress) override {
        events->add("lock");
        if (on_lock)
            if (auto e = on_lock()) return unexpected(*e);
        LockedVolumes locked;
        for (const auto& v : list) {
            bool ours = false;
            for (uint32_t d : v.disks)
                ours = ours || d == number;
            if (!ours) continue;
            std::string label = volume_label(v);
            if (progress) progress(LockStep::Locking, label);
            if (progress) progress(LockStep::Dismounting, label);
            locked.add(std::make_unique<RecordingLock>(events, label));
        }
        return locked;
    }
    Result<RawDevice, OsError> open_raw(uint32_t number, uint32_t sector, uint64_t size,
                                        const IoConfig& config) override {
        events->add("open");
        if (on_open)
            if (auto e = on_open()) return unexpected(*e);
        opened_config = config;
        return RawDevice(std::make_unique<SharedDisk>(disk, events), number, sector, size, config,
                         fake_clock);
    }
    Result<WriteProbeTimes, WriteProbeFailure> probe_writable(RawDevice& device) override {
        events->add("probe");
        if (on_probe) return on_probe(device);
        return WriteProbeTimes{3, 4};
    }
    std::string filesystem_diagnosis(std::optional<char> letter) override {
        events->add(std::string("diagnosis ") + (letter ? std::string(1, *letter) : "-"));
        if (on_diagnosis) return on_diagnosis(letter);
        return letter ? "OK on E: in 12 ms (Windows can write files to this drive)"
                      : "skipped (the drive has no drive letter)";
    }
    EjectOutcome eject_drive(const DeviceInfo&) override {
        events->add("eject");
        if (on_eject) return on_eject();
        return {};
    }
    Result<void, std::string> refresh_layout(uint32_t) override {
        events->add("refresh");
        return {};
    }
    Result<std::unique_ptr<ImageReader>, std::string> open_image(const std::string&) override {
        events->add("open image");
        if (on_open_image) return on_open_image();
        return std::unique_ptr<ImageReader>(std::make_unique<MemoryImageReader>(image));
    }

    IoConfig opened_config;

  private:
    RecordingLog recorded_;
    std::atomic<int> identify_calls_{0};
};

}  // namespace sw::test
