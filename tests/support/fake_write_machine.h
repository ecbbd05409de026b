// The write job's world as fakes behind the machine seam: a drive that is a
// scriptable FakeDisk, an image in memory, answers of the disk walk, the
// system facts, the volumes, the locker, the drive check's files and eject,
// and one ordered record of what happened (opened, closed, released,
// ejected) and of every log line. The job's own rules (identification,
// locking, the write probe, the diagnosis, eject) run as in the product.
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
#include "disk/disk_system.h"
#include "disk/health_check.h"
#include "machine/machine.h"
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
    // The write probe's first question.
    Result<void, OsError> query_writable(uint32_t ms) override {
        events_->add("probe");
        return disk_->query_writable(ms);
    }

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

// The locker: a claim that is given back silently, one recorded lock per
// volume, and `error` for the first volume it is asked to open.
class FakeLocker final : public VolumeLocker {
  public:
    FakeLocker(std::shared_ptr<EventLog> events, std::optional<OsError> error)
        : events_(std::move(events)), error_(std::move(error)) {}
    Result<std::unique_ptr<VolumeLock>, OsError> claim(uint32_t) override {
        events_->add("lock");
        return std::unique_ptr<VolumeLock>(std::make_unique<SilentLock>());
    }
    Result<std::unique_ptr<VolumeLock>, OsError> open(const VolumeInfo& volume) override {
        if (error_) return unexpected(*error_);
        return std::unique_ptr<VolumeLock>(
            std::make_unique<RecordingLock>(events_, volume_label(volume)));
    }
    Result<void, OsError> lock(VolumeLock&, uint32_t) override { return {}; }
    Result<void, OsError> dismount(VolumeLock&, uint32_t) override { return {}; }
    std::string_view lock_name() const override { return "FSCTL_LOCK_VOLUME"; }
    std::string_view dismount_name() const override { return "FSCTL_DISMOUNT_VOLUME"; }
    Result<std::unique_ptr<VolumeLock>, OsError> hold_disk(uint32_t) override {
        return std::unique_ptr<VolumeLock>();
    }

  private:
    class SilentLock final : public VolumeLock {};
    std::shared_ptr<EventLog> events_;
    std::optional<OsError> error_;
};

// The drive check's file test: "diagnosis E" for a file on E:, failing with
// `error` when set.
class FakeTestFiles final : public FileOps {
  public:
    FakeTestFiles(std::shared_ptr<EventLog> events, std::optional<OsError> error)
        : events_(std::move(events)), error_(std::move(error)) {}
    Result<std::unique_ptr<TestFile>, OsError> create(const std::string& path) override {
        events_->add("diagnosis " + path.substr(0, 1));
        if (error_) return unexpected(*error_);
        return std::unique_ptr<TestFile>(std::make_unique<File>());
    }
    Result<void, OsError> remove(const std::string&) override { return {}; }

  private:
    class File final : public TestFile {
      public:
        Result<void, OsError> write(std::span<const std::byte>) override { return {}; }
        Result<void, OsError> flush() override { return {}; }
        Result<void, OsError> close() override { return {}; }
    };
    std::shared_ptr<EventLog> events_;
    std::optional<OsError> error_;
};

// Eject requests answered by `answer` (accepted when empty), recorded as
// "eject"; layout refreshes recorded as "refresh".
class FakeEjectSteps final : public EjectSystem {
  public:
    FakeEjectSteps(std::shared_ptr<EventLog> events, DeviceInfo drive,
                   std::function<EjectOutcome()> answer)
        : events_(std::move(events)), drive_(std::move(drive)), answer_(std::move(answer)) {}
    Result<DeviceInfo, std::string> identify(const DeviceIdentity&) override { return drive_; }
    std::optional<EjectTarget> parent_of(const DeviceInfo&) override { return std::nullopt; }
    EjectTarget own_node(const DeviceInfo&) override { return EjectTarget{}; }
    Result<void, std::string> request_eject(const DeviceInfo&, const EjectTarget&) override {
        events_->add("eject");
        if (answer_) return answer_();
        return {};
    }
    Result<void, OsError> refresh_layout(uint32_t) override {
        events_->add("refresh");
        return {};
    }
    std::string_view refresh_name() const override { return "IOCTL_DISK_UPDATE_PROPERTIES"; }

  private:
    std::shared_ptr<EventLog> events_;
    DeviceInfo drive_;
    std::function<EjectOutcome()> answer_;
};

// The drive seam of the fakes. It keeps every answer and the record, so
// that a side thread the job abandoned still finds them after the test.
class FakeWriteDisks final : public DiskSystemWrapper {
  public:
    FakeWriteDisks(DeviceInfo drive_record, std::string image_bytes, uint32_t slots = 16)
        : DiskSystemWrapper(platform_disk_system(real_clock())),
          drive(std::move(drive_record)),
          image(std::move(image_bytes)),
          disk(std::make_shared<FakeDisk>(slots, fake_clock, drive.size)) {}
    ~FakeWriteDisks() override { gate->open(); }

    FakeClock fake_clock;
    std::shared_ptr<EventLog> events = std::make_shared<EventLog>();
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    DeviceInfo drive;
    std::string image;
    std::shared_ptr<FakeDisk> disk;
    std::vector<VolumeInfo> volumes;

    // Answers; each may stay empty for the default one.
    std::function<DeviceInfo(int call)> on_identify;  // what the disk walk finds; calls from 1
    std::function<SystemFacts()> on_facts;
    std::function<Result<std::vector<VolumeInfo>, OsError>()> on_volumes;
    std::optional<OsError> lock_error;  // opening the first volume of the drive
    std::function<std::optional<OsError>()> on_open;
    std::optional<OsError> file_test_error;  // the diagnosis's file test
    std::function<EjectOutcome()> on_eject;
    std::function<Result<std::unique_ptr<ImageReader>, std::string>()> on_open_image;

    // Makes `gate` stand for a call that hangs past the caller's time limit
    // of `limit` on the fake clock, and gives it to the hook that waits there.
    std::shared_ptr<Gate> hang_past(std::chrono::milliseconds limit) {
        gate = std::make_shared<Gate>(fake_clock, limit);
        return gate;
    }

    // What was logged while these fakes lived, the engine's lines included.
    std::vector<std::pair<LogLevel, std::string>> lines() { return recorded_.lines(); }
    std::vector<std::string> texts() { return recorded_.texts(); }
    bool logged(std::string_view needle) {
        for (const auto& t : texts())
            if (t.find(needle) != std::string::npos) return true;
        return false;
    }
    int identify_calls() const { return identify_calls_.load(); }

    // The drive as the disk walk finds it: no letters.
    DeviceInfo walked() const {
        DeviceInfo found = drive;
        found.letters.clear();
        return found;
    }

    Clock& clock() override { return fake_clock; }
    Result<std::vector<DeviceInfo>, OsError> enumerate_disks() override {
        int call = ++identify_calls_;
        events->add("identify");
        return std::vector<DeviceInfo>{on_identify ? on_identify(call) : walked()};
    }
    // The facts come through the queries that gathering them asks: places
    // named after the facts, each located as `on_facts` says. The event
    // "facts IMAGE" is recorded once they are gathered; the volume list
    // read for them is not an event of its own.
    Result<SystemPlaces, std::string> system_places() override {
        gathering_ = true;
        facts_ =
            on_facts ? on_facts() : SystemFacts{none(), none(), none(), none(), none(), none()};
        facts_image_ = "-";
        SystemPlaces places;
        places.system = std::vector<std::string>{"system"};
        places.boot = std::string("boot");
        places.boot_partition = BootPartitionPlace{"boot partition", {}};
        places.swap = std::vector<SwapPlace>{{"swap"}};
        places.executable = std::string("executable");
        return places;
    }
    DiskFact locate_path(const std::vector<VolumeInfo>&, const std::string& path) override {
        if (path == "system") return facts_.system_volume;
        if (path == "boot") return facts_.boot_volume;
        if (path == "boot partition") return facts_.boot_partition;
        if (path == "swap") return facts_.swap;
        if (path == "executable") return facts_.executable;
        facts_image_ = path;
        return facts_.image;
    }
    std::vector<uint32_t> disks_backed_by(const std::string&) override { return {}; }
    void add_held(std::vector<std::pair<uint32_t, std::string>>& held) override {
        held.insert(held.end(), facts_.held.begin(), facts_.held.end());
        gathering_ = false;
        events->add("facts " + facts_image_);
    }
    Result<std::vector<VolumeInfo>, OsError> enumerate_volumes() override {
        if (gathering_) return volumes;
        events->add("volumes");
        if (on_volumes) return on_volumes();
        return volumes;
    }
    std::unique_ptr<VolumeLocker> volume_locker() override {
        return std::make_unique<FakeLocker>(events, lock_error);
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
    std::shared_ptr<FileOps> file_ops() override {
        return std::make_shared<FakeTestFiles>(events, file_test_error);
    }
    std::unique_ptr<EjectSystem> eject_system(uint32_t) override {
        return std::make_unique<FakeEjectSteps>(events, walked(), on_eject);
    }

    Result<std::unique_ptr<ImageReader>, std::string> open_image() {
        events->add("open image");
        if (on_open_image) return on_open_image();
        return std::unique_ptr<ImageReader>(std::make_unique<MemoryImageReader>(image));
    }

    IoConfig opened_config;

  private:
    static DiskFact none() { return std::vector<uint32_t>{}; }
    RecordingLog recorded_;
    std::atomic<int> identify_calls_{0};
    // The facts being gathered (system_places to add_held).
    std::atomic<bool> gathering_{false};
    SystemFacts facts_;
    std::string facts_image_;
};

// The machine over the fakes: their drives, clock and image.
class FakeWriteMachine final : public MachineWrapper {
  public:
    explicit FakeWriteMachine(std::shared_ptr<FakeWriteDisks> disks)
        : MachineWrapper(platform_machine(disks)), disks_(std::move(disks)) {}
    Result<std::unique_ptr<ImageReader>, std::string> open_image(const std::string&) override {
        return disks_->open_image();
    }

  private:
    std::shared_ptr<FakeWriteDisks> disks_;
};

inline std::shared_ptr<Machine> machine_of(std::shared_ptr<FakeWriteDisks> disks) {
    return std::make_shared<FakeWriteMachine>(std::move(disks));
}

}  // namespace sw::test
