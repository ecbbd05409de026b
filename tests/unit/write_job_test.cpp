// The write job against fakes of everything outside it: its steps and log
// lines in order, each way it ends before anything is written, the stop
// flag in every phase, the release of the drive before an eject, and the
// window's job thread with its heartbeat and notices.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "support/random_image.h"
#include "image/crypto.h"
#include "support/eventually.h"
#include "support/fake_write_machine.h"
#include "support/recording_log.h"
#include "support/recording_sink.h"
#include "ui/messages.h"
#include "ui/workers.h"
#include "writer/write_job.h"
#include "support/temp_dir.h"

namespace sw {
namespace {

using test::FakeDisk;
using test::FakeWriteDisks;
using JK = JobError::Kind;

using test::MiB;
constexpr uint32_t kDisk = 4000000007u;

std::string random_image(size_t n, uint32_t seed = 11) {
    return test::random_image(n, seed);
}

DeviceInfo stick() {
    DeviceInfo d;
    d.instance_id = "USBSTOR\\DISK&VEN_ORTIVEX&PROD_STICK\\0001";
    d.vendor = "Ortivex";
    d.product = "Stick";
    d.serial = "S1";
    d.letters = {'E'};
    d.bus = BusKind{BusKind::Usb, 0};
    d.size = 16 * MiB;
    d.number = kDisk;
    d.removable = true;
    d.usb_speed = UsbSpeed::High;
    return d;
}

OsError os(std::string text, unsigned traits) {
    return message_error(std::move(text), traits);
}

struct JobRig {
    std::shared_ptr<FakeWriteDisks> sys;
    WriteRequest request;
    std::string image;

    explicit JobRig(size_t image_size = 3 * MiB + 100) {
        image = random_image(image_size);
        sys = std::make_shared<FakeWriteDisks>(stick(), image);
        sys->volumes = {
            VolumeInfo{"\\\\?\\Volume{aa}\\", "", {kDisk}, {'E'}, {}},
            VolumeInfo{"\\\\?\\Volume{bb}\\", "", {0}, {'C'}, {}},
        };
        // What the drive held before: anything but zeros.
        sys->disk->storage.assign(sys->disk->storage.size(), std::byte{0x55});
        request.image.version = "24.10.3118";
        request.image.size = image.size();
        request.image.capture = CaptureRegion{MiB, 4096};
        request.image.signature_block.assign(image.begin() + MiB, image.begin() + MiB + 4096);
        std::string zeroed = image;
        std::fill_n(zeroed.begin() + MiB, 4096, '\0');
        request.image.expected_digest = sha256_in_process(
            std::span(reinterpret_cast<const uint8_t*>(zeroed.data()), zeroed.size()));
        request.image_path = "/images/ortivex.iso";
        request.drive = stick();
        request.chunk_size = MiB;
    }

    ~JobRig() { sys->gate->open(); }  // lets abandoned side threads end

    WriteResult run() { return run_write_job(request, test::machine_of(sys)); }

    std::string stored(uint64_t offset, size_t n) const {
        return std::string(reinterpret_cast<const char*>(sys->disk->storage.data()) + offset, n);
    }
    bool untouched() const {
        return std::all_of(sys->disk->storage.begin(), sys->disk->storage.end(),
                           [](std::byte b) { return b == std::byte{0x55}; });
    }
    bool head_zero() const { return stored(0, 65536) == std::string(65536, '\0'); }
    std::vector<std::string> events() { return sys->events->all(); }
    bool happened(const std::string& e) {
        auto all = events();
        return std::find(all.begin(), all.end(), e) != all.end();
    }
    ptrdiff_t index_of(const std::string& e) {
        auto all = events();
        return std::find(all.begin(), all.end(), e) - all.begin();
    }
};

TEST(WriteJob, ASuccessfulJobInItsStepsAndLines) {
    JobRig rig;
    auto result = rig.run();
    ASSERT_TRUE(result) << result.error().text();
    EXPECT_EQ(rig.stored(0, rig.image.size()), rig.image);
    EXPECT_EQ(result->pipeline.digest, *rig.request.image.expected_digest);
    EXPECT_EQ(result->pipeline.bytes_written, 3 * MiB + 512);
    EXPECT_TRUE(result->pipeline.verified);
    EXPECT_FALSE(result->eject);
    EXPECT_EQ(rig.sys->opened_config, write_io_config());
    EXPECT_EQ(rig.request.progress->read_phase(), WritePhase::Finishing);

    const std::vector<std::string> expected = {
        "write start: disk 4000000007 'Ortivex Stick' serial='S1' size=16777216 bus=Usb "
        "sector=512/512 usb=Some(High); image /images/ortivex.iso (3145828 bytes, 24.10.3118); "
        "io=IoConfig { no_buffering: true, write_through: false, depth: 1, io_size: 1048576 } "
        "chunk=1048576 buffers=3",
        "prepare +0 ms: re-identifying the drive…",
        "prepare +0 ms: drive re-identified; gathering system facts…",
        "prepare +0 ms: system facts gathered",
        "prepare +0 ms: enumerating the drive's volumes…",
        "prepare +0 ms: locking volume E:",
        "prepare +0 ms: dismounting volume E:",
        "prepare +0 ms: locked and dismounted 1 volume(s); re-identifying the drive…",
        "prepare +0 ms: drive re-identified after locking; opening the raw device…",
        "prepare +0 ms: testing that the drive accepts writes (nothing is changed)…",
        "prepare +0 ms: write test passed (read 0 ms, write-back 0 ms)",
        "prepare +0 ms: raw device and image opened; starting the pipeline…",
        "phase Writing: re-identifying the drive…",
        "phase Writing: drive re-identified (same drive)",
        "phase Flushing: re-identifying the drive…",
        "phase Flushing: drive re-identified (same drive)",
        "phase Verifying: re-identifying the drive…",
        "phase Verifying: drive re-identified (same drive)",
    };
    EXPECT_EQ(rig.sys->texts(), expected);
    EXPECT_EQ(rig.events(),
              (std::vector<std::string>{"identify", "facts /images/ortivex.iso", "volumes", "lock",
                                        "identify", "open", "probe", "open image", "identify",
                                        "identify", "identify", "device closed", "released E:"}));
}

TEST(WriteJob, PrepareLinesCountMillisecondsFromTheStart) {
    JobRig rig;
    // The probe's read takes 1234 ms, its write-back 6 ms.
    FakeWriteDisks* sys = rig.sys.get();  // the hook lives inside it: no owning copy
    int requests = 0;
    sys->disk->complete = [sys, &requests](const FakeDisk::Request&) {
        ++requests;
        if (requests <= 2)
            sys->fake_clock.advance(std::chrono::milliseconds(requests == 1 ? 1234 : 6));
        return std::optional<SlotOutcome>();
    };
    ASSERT_TRUE(rig.run());
    EXPECT_TRUE(
        rig.sys->logged("prepare +1240 ms: write test passed (read 1234 ms, write-back 6 ms)"));
}

TEST(WriteJob, TheDriveIsReleasedBeforeItIsEjected) {
    // The system refuses to eject a disk that is still open or locked.
    JobRig rig;
    rig.request.eject_when_done = true;
    size_t eject_notices = 0;
    ptrdiff_t events_at_notice = -1;
    rig.request.eject_started = [&] {
        ++eject_notices;
        events_at_notice = static_cast<ptrdiff_t>(rig.events().size());
    };
    auto result = rig.run();
    ASSERT_TRUE(result) << result.error().text();
    ASSERT_TRUE(result->eject);
    EXPECT_TRUE(*result->eject);
    auto closed = rig.index_of("device closed");
    auto released = rig.index_of("released E:");
    auto ejected = rig.index_of("eject");
    EXPECT_LT(closed, released);
    EXPECT_LT(released, ejected);
    EXPECT_EQ(ejected + 1, static_cast<ptrdiff_t>(rig.events().size()));
    // The window hears of the eject once, after the release and before it.
    EXPECT_EQ(eject_notices, 1u);
    EXPECT_EQ(events_at_notice, ejected);

    // A refused eject is reported, not a failed write.
    JobRig refused;
    refused.request.eject_when_done = true;
    refused.sys->on_eject = [] { return EjectOutcome(unexpected(std::string("vetoed"))); };
    auto r = refused.run();
    ASSERT_TRUE(r);
    EXPECT_EQ(debug_string(*r->eject), "Err(\"vetoed\")");
    EXPECT_TRUE(outcome_line(refused.request, r).ends_with(", eject Err(\"vetoed\")"));
}

// The ways a job ends before anything is written: the drive keeps every byte.
struct EarlyEnd {
    const char* name;
    std::function<void(JobRig&)> arrange;
    std::string text;
    const char* not_reached;  // an event that must not have happened
};

void PrintTo(const EarlyEnd& e, std::ostream* os) {
    *os << e.name;
}

class WriteJobEarlyEnd : public ::testing::TestWithParam<EarlyEnd> {};

TEST_P(WriteJobEarlyEnd, NothingIsWritten) {
    const EarlyEnd& e = GetParam();
    JobRig rig;
    e.arrange(rig);
    auto result = rig.run();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().text(), e.text);
    EXPECT_TRUE(rig.untouched());
    EXPECT_FALSE(rig.happened(e.not_reached)) << e.not_reached;
    // Whatever was taken is given back, the device before the locks.
    if (rig.happened("probe")) {
        EXPECT_LT(rig.index_of("device closed"), rig.index_of("released E:"));
    }
    if (rig.sys->identify_calls() >= 2) {
        EXPECT_TRUE(rig.happened("released E:"));
    }
}

// What the disk walk finds: another drive under the same number at call
// `at`, the chosen one otherwise.
DeviceInfo changed(int call, int at) {
    DeviceInfo d = stick();
    d.letters.clear();
    if (call == at) d.serial = "S2";
    return d;
}

// How identification names that other drive.
const std::string kSwapped =
    "expected DeviceIdentity { number: 4000000007, instance_id: "
    "\"USBSTOR\\\\DISK&VEN_ORTIVEX&PROD_STICK\\\\0001\", serial: \"S1\", vendor: "
    "\"Ortivex\", product: \"Stick\", size: 16777216 }, found DeviceIdentity { number: "
    "4000000007, instance_id: \"USBSTOR\\\\DISK&VEN_ORTIVEX&PROD_STICK\\\\0001\", serial: "
    "\"S2\", vendor: \"Ortivex\", product: \"Stick\", size: 16777216 }";

SystemFacts facts_with(DiskFact system_drive) {
    DiskFact none = std::vector<uint32_t>{};
    return SystemFacts{none, system_drive, none, none, none, none};
}

INSTANTIATE_TEST_SUITE_P(
    Steps, WriteJobEarlyEnd,
    ::testing::Values(
        EarlyEnd{"SwappedBeforeStarting",
                 [](JobRig& r) { r.sys->on_identify = [](int c) { return changed(c, 1); }; },
                 "drive identity changed: " + kSwapped, "facts"},
        EarlyEnd{"FactsThatNeverArrive",
                 [](JobRig& r) {
                     auto gate = r.sys->hang_past(std::chrono::seconds(60));
                     r.sys->on_facts = [gate] {
                         gate->wait();
                         return facts_with(std::vector<uint32_t>{});
                     };
                 },
                 "system disk check did not finish within 60 s", "volumes"},
        EarlyEnd{"SystemDrive",
                 [](JobRig& r) {
                     r.sys->on_facts = [] { return facts_with(std::vector<uint32_t>{kDisk}); };
                 },
                 "drive protected: [SystemDrive]", "volumes"},
        EarlyEnd{"FactUndetermined",
                 [](JobRig& r) {
                     r.sys->on_facts = [] {
                         return facts_with(unexpected(std::string("volume of C:\\: denied")));
                     };
                 },
                 "drive protected: [Undetermined(\"volume of C:\\\\: denied\")]", "volumes"},
        EarlyEnd{"ImageLargerThanTheDrive", [](JobRig& r) { r.request.image.size = 16 * MiB + 1; },
                 "drive protected: [TooSmall { need: 16777217 }]", "volumes"},
        EarlyEnd{"StoppedWhilePreparing", [](JobRig& r) { *r.request.stop = true; }, "cancelled",
                 "volumes"},
        EarlyEnd{"VolumeEnumerationFails",
                 [](JobRig& r) {
                     r.sys->on_volumes = [] {
                         return Result<std::vector<VolumeInfo>, OsError>(
                             unexpected(os("FindFirstVolumeW failed", 0)));
                     };
                 },
                 "volume enumeration: FindFirstVolumeW failed", "lock"},
        EarlyEnd{"VolumeEnumerationHangs",
                 [](JobRig& r) {
                     auto gate = r.sys->hang_past(std::chrono::seconds(60));
                     r.sys->on_volumes = [gate] {
                         gate->wait();
                         return Result<std::vector<VolumeInfo>, OsError>();
                     };
                 },
                 "volume enumeration did not finish within 60 s", "lock"},
        EarlyEnd{"VolumeHeldByAnotherProgram",
                 [](JobRig& r) {
                     r.sys->lock_error =
                         os("FSCTL_LOCK_VOLUME failed on E:: Access is denied.", kInUse);
                 },
                 "drive in use: FSCTL_LOCK_VOLUME failed on E:: Access is denied.", "open"},
        EarlyEnd{"LockAccessDenied",
                 [](JobRig& r) {
                     r.sys->lock_error = os("Access is denied. (os error 5)", kAccessDenied);
                 },
                 "access denied: Access is denied. (os error 5)", "open"},
        EarlyEnd{"UnpluggedWhileLocking",
                 [](JobRig& r) {
                     r.sys->lock_error =
                         os("The device is not connected. (os error 1167)", kDisconnected);
                 },
                 "device disconnected: The device is not connected. (os error 1167)", "open"},
        EarlyEnd{"LockFailsOtherwise",
                 [](JobRig& r) { r.sys->lock_error = os("Incorrect function. (os error 1)", 0); },
                 "lock volumes: Incorrect function. (os error 1)", "open"},
        EarlyEnd{"SwappedWhileLocking",
                 [](JobRig& r) { r.sys->on_identify = [](int c) { return changed(c, 2); }; },
                 "drive identity changed: " + kSwapped, "open"},
        EarlyEnd{"OpenAccessDenied",
                 [](JobRig& r) {
                     r.sys->on_open = [] {
                         return std::optional<OsError>(
                             os("Access is denied. (os error 5)", kAccessDenied));
                     };
                 },
                 "access denied: Access is denied. (os error 5)", "probe"},
        EarlyEnd{"UnpluggedBeforeOpening",
                 [](JobRig& r) {
                     r.sys->on_open = [] {
                         return std::optional<OsError>(
                             os("The system cannot find the file specified. (os error 2)",
                                kDisconnected | kNotFound));
                     };
                 },
                 "device disconnected: The system cannot find the file specified. (os error 2)",
                 "probe"},
        EarlyEnd{"OpenFailsOtherwise",
                 [](JobRig& r) {
                     r.sys->on_open = [] {
                         return std::optional<OsError>(os("Sharing violation (os error 32)", 0));
                     };
                 },
                 "open disk: Sharing violation (os error 32)", "probe"},
        EarlyEnd{"OpenThatNeverReturns",
                 [](JobRig& r) {
                     auto gate = r.sys->hang_past(std::chrono::seconds(30));
                     r.sys->on_open = [gate] {
                         gate->wait();
                         return std::optional<OsError>();
                     };
                 },
                 "opening the drive did not finish within 30 s", "probe"},
        EarlyEnd{"WriteProtected",
                 [](JobRig& r) {
                     // The probe's write-back of the first 64 KiB.
                     r.sys->disk->complete = [](const FakeDisk::Request& q) {
                         if (q.direction != IoDirection::Write) return std::optional<SlotOutcome>();
                         return std::optional<SlotOutcome>(SlotOutcome{
                             SlotOutcome::Failed, 0,
                             os("The media is write protected. (os error 19)", kWriteProtected)});
                     };
                 },
                 "drive does not accept writes (nothing was erased): raw write-back of the first "
                 "64 KiB: The media is write protected. (os error 19); filesystem write test: OK "
                 "on E: in 0 ms (Windows can write files to this drive)",
                 "open image"},
        EarlyEnd{"UnpluggedDuringTheWriteTest",
                 [](JobRig& r) {
                     // The probe's read of the first 64 KiB.
                     r.sys->disk->complete = [](const FakeDisk::Request&) {
                         return std::optional<SlotOutcome>(SlotOutcome{
                             SlotOutcome::Failed, 0,
                             os("The device has been removed. (os error 1617)", kDisconnected)});
                     };
                 },
                 "device disconnected: The device has been removed. (os error 1617)",
                 "diagnosis E"},
        EarlyEnd{"ImageGone",
                 [](JobRig& r) {
                     r.sys->on_open_image = [] {
                         return Result<std::unique_ptr<ImageReader>, std::string>(
                             unexpected(std::string("No such file or directory (os error 2)")));
                     };
                 },
                 "image read failed: No such file or directory (os error 2)", "eject"}),
    [](const ::testing::TestParamInfo<EarlyEnd>& info) { return std::string(info.param.name); });

TEST(WriteJob, AFailedWriteTestIsExplainedInTheLog) {
    JobRig rig;
    rig.request.drive.letters = {'F', 'G'};
    const OsError write_protected =
        os("The media is write protected. (os error 19)", kWriteProtected);
    rig.sys->disk->writable_error = write_protected;
    rig.sys->file_test_error = os("Access is denied. (os error 5)", kAccessDenied);
    auto result = rig.run();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, JK::NotWritable);
    EXPECT_TRUE(rig.happened("diagnosis F"));  // the drive's first letter
    EXPECT_TRUE(rig.sys->logged(
        "write test FAILED at writable query: The media is write protected. (os error 19)"));
    EXPECT_TRUE(rig.sys->logged("filesystem write test: FAILED on F: Access is denied."));

    JobRig no_letter;
    no_letter.request.drive.letters.clear();
    no_letter.sys->disk->writable_error = write_protected;
    auto r = no_letter.run();
    ASSERT_FALSE(r);
    for (const auto& e : no_letter.events())
        EXPECT_FALSE(e.starts_with("diagnosis")) << e;  // no file test without a letter
    EXPECT_TRUE(r.error().text().ends_with(
        "; filesystem write test: skipped (the drive has no drive letter)"));
}

TEST(WriteJob, APipelineFailureCancelsOutstandingIoBeforeReleasing) {
    JobRig rig;
    rig.sys->disk->complete = [](const FakeDisk::Request& r) -> std::optional<SlotOutcome> {
        if (r.direction == IoDirection::Write && r.offset >= 2 * MiB)
            return SlotOutcome{SlotOutcome::Failed, 0,
                               os("The device has been removed. (os error 1617)", kDisconnected)};
        return std::nullopt;
    };
    auto result = rig.run();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().text(),
              "device disconnected: The device has been removed. (os error 1617)");
    EXPECT_TRUE(rig.head_zero());
    EXPECT_LT(rig.index_of("cancel all"), rig.index_of("device closed"));
    EXPECT_LT(rig.index_of("device closed"), rig.index_of("released E:"));
    EXPECT_FALSE(rig.happened("eject"));
}

// The stop flag set in each phase ends the job as cancelled with the head zero.
TEST(WriteJob, StopInEveryPhase) {
    struct Case {
        const char* name;
        std::function<void(JobRig&)> arrange;
        WritePhase ended_in;
    };
    const Case cases[] = {
        {"Writing",
         [](JobRig& r) {
             auto stop = r.request.stop;
             r.sys->disk->complete = [stop](const FakeDisk::Request& q) {
                 if (q.direction == IoDirection::Write && q.offset >= MiB) *stop = true;
                 return std::optional<SlotOutcome>();
             };
         },
         WritePhase::Writing},
        // Set while flushing: the read-back stops before its first read.
        {"Flushing",
         [](JobRig& r) {
             auto stop = r.request.stop;
             r.sys->on_identify = [stop](int c) {
                 if (c == 4) *stop = true;
                 return changed(c, 0);
             };
         },
         WritePhase::Verifying},
        {"Verifying",
         [](JobRig& r) {
             auto stop = r.request.stop;
             r.sys->disk->complete = [stop](const FakeDisk::Request& q) {
                 if (q.direction == IoDirection::Read && q.offset >= MiB) *stop = true;
                 return std::optional<SlotOutcome>();
             };
         },
         WritePhase::Verifying},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        JobRig rig;
        c.arrange(rig);
        auto result = rig.run();
        ASSERT_FALSE(result);
        EXPECT_TRUE(result.error().is_cancelled());
        EXPECT_EQ(result.error().text(), "cancelled");
        EXPECT_TRUE(rig.head_zero());
        EXPECT_EQ(rig.request.progress->read_phase(), c.ended_in);
    }
}

TEST(WriteJob, AStopWhileTheWriteTestHangsEndsItWithNothingWritten) {
    JobRig rig;
    auto stop = rig.request.stop;
    // The probe's first read never completes, and the operator stops.
    auto hung = std::make_shared<std::atomic<bool>>(false);
    rig.sys->disk->hang = [stop, hung](const FakeDisk::Request&) {
        if (hung->exchange(true)) return FakeDisk::Hang::No;
        *stop = true;
        return FakeDisk::Hang::UntilCancelled;
    };
    auto result = rig.run();
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().is_cancelled()) << result.error().text();
    EXPECT_TRUE(rig.untouched());
    EXPECT_FALSE(rig.happened("diagnosis E"));
    EXPECT_LT(rig.sys->fake_clock.elapsed(), std::chrono::milliseconds(kRequestWaitMs));
}

TEST(WriteJob, ADriveSwappedBetweenPhasesIsNeverWrittenFurther) {
    for (int call : {3, 4, 5}) {  // before writing, flushing, verifying
        SCOPED_TRACE(call);
        JobRig rig;
        rig.sys->on_identify = [call](int c) { return changed(c, call); };
        auto result = rig.run();
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().text(), "refused: " + kSwapped);
        EXPECT_TRUE(rig.sys->logged("drive re-identified (CHANGED)"));
        if (call == 3) {
            EXPECT_TRUE(rig.untouched());
        } else {
            EXPECT_TRUE(rig.head_zero());
        }
    }
}

TEST(WriteJob, OutcomeLine) {
    JobRig rig;
    WriteReport report;
    report.pipeline.bytes_written = 3146240;
    report.pipeline.write_seconds = 2.04;
    report.pipeline.flush_seconds = 0.26;
    report.pipeline.verify_seconds = 0.0004;
    EXPECT_EQ(outcome_line(rig.request, WriteResult(report)),
              "write OK: 3146240 bytes, write 2.0s (1.5 MB/s), flush 0.3s, verify 0.0s "
              "(3145.8 MB/s), eject Ok(())");
    EXPECT_EQ(outcome_line(rig.request, WriteResult(unexpected(JobError::of_pipeline(
                                            PipelineError::of(PipelineError::Kind::Cancelled))))),
              "write failed: cancelled");
}

TEST(WriteJob, ErrorTexts) {
    EXPECT_EQ(JobError::of(JK::IdentityChanged, "x").text(), "drive identity changed: x");
    EXPECT_EQ(JobError::of(JK::InUse, "x").text(), "drive in use: x");
    EXPECT_EQ(JobError::of(JK::NotWritable, "x").text(),
              "drive does not accept writes (nothing was erased): x");
    EXPECT_EQ(JobError::of(JK::AccessDenied, "x").text(), "access denied: x");
    EXPECT_EQ(JobError::of(JK::Message, "x").text(), "x");
    EXPECT_EQ(JobError::protected_by(
                  {Refusal{Refusal::SystemDrive, "", 0}, Refusal{Refusal::Pagefile, "", 0}})
                  .text(),
              "drive protected: [SystemDrive, Pagefile]");
    EXPECT_EQ(JobError::of_pipeline(PipelineError::of(PipelineError::Kind::HashMismatch)).text(),
              "image bytes differ from the signed hash");
}

// --- The window's face ---------------------------------------------------------

// A clock whose bounded waits end at once, calling `tick` (with the waiter's
// lock held) every time, so that the heartbeat's 5 seconds pass instantly.
class TickingClock final : public Clock {
  public:
    std::function<void()> tick;
    TimePoint now() override { return TimePoint{} + elapsed_; }
    void sleep_for(std::chrono::milliseconds d) override { elapsed_ += d; }
    bool wait_for(std::unique_lock<std::mutex>&, std::condition_variable&,
                  std::chrono::milliseconds d, const std::function<bool()>& done) override {
        if (done()) return true;
        elapsed_ += d;
        if (tick) tick();
        return done();
    }
    std::chrono::milliseconds elapsed_{0};
};

TEST(Heartbeat, EveryTwentiethCheckLogsTheProgress) {
    TickingClock clock;
    test::RecordingLog log;
    WriteProgress progress;
    progress.set(5, 10, WritePhase::Writing);
    progress.set_step(PrepareStep::Opening);
    HeartbeatSignal signal;
    int checks = 0;
    clock.tick = [&] {
        if (++checks == 45) signal.finished = true;  // the waiter holds the lock
    };
    run_heartbeat(progress, signal, clock);
    ASSERT_EQ(log.texts().size(), 2u);  // after checks 20 and 40
    EXPECT_EQ(log.texts()[0], "heartbeat: phase Writing step Opening 5/10 bytes");
    EXPECT_EQ(clock.elapsed_, std::chrono::milliseconds(45 * 250));

    // Values beyond the known ones read as the first.
    progress.phase = 9;
    progress.step = 200;
    checks = 20;
    signal.finished = false;
    test::RecordingLog again;
    run_heartbeat(progress, signal, clock);
    ASSERT_EQ(again.texts().size(), 1u);
    EXPECT_EQ(again.texts()[0], "heartbeat: phase Preparing step Checking 5/10 bytes");
}

TEST(JobThread, ReportsTheOutcomeInTheLogAndToTheWindow) {
    JobRig rig;
    test::Recorder<WriteResult> sink;
    run_job_thread(rig.request, sink.reporter(), test::machine_of(rig.sys));
    auto messages = sink.messages();
    ASSERT_EQ(messages.size(), 1u);
    ASSERT_TRUE(messages[0]);
    auto lines = rig.sys->lines();
    EXPECT_EQ(lines.back().first, LogLevel::Info);
    EXPECT_TRUE(lines.back().second.starts_with("write OK: 3146240 bytes, write "))
        << lines.back().second;
    EXPECT_TRUE(lines.back().second.ends_with(" MB/s), eject Ok(())")) << lines.back().second;

    JobRig failing;
    failing.sys->on_identify = [](int c) { return changed(c, 1); };
    test::Recorder<WriteResult> sink2;
    run_job_thread(failing.request, sink2.reporter(), test::machine_of(failing.sys));
    ASSERT_EQ(sink2.messages().size(), 1u);
    EXPECT_FALSE(sink2.messages()[0]);
    auto failed = failing.sys->lines();
    EXPECT_EQ(failed.back().first, LogLevel::Error);
    EXPECT_EQ(failed.back().second, "write failed: drive identity changed: " + kSwapped);
}

// The window's workers over the fakes, and the end of the write they start.
struct WindowWorkers {
    std::shared_ptr<MessageQueue> queue = std::make_shared<MessageQueue>();
    std::unique_ptr<UiWorkers> workers;

    explicit WindowWorkers(std::shared_ptr<FakeWriteDisks> disks)
        : workers(make_real_workers(test::machine_of(std::move(disks)), queue)) {}

    // The job's WriteFinished, once it has been sent.
    std::optional<WriteResult> finished() {
        for (;;) {
            if (!queue->wait_for_message(test::kHangGuard)) return std::nullopt;
            for (auto& message : queue->drain())
                if (auto* f = std::get_if<WriteFinished>(&message)) return std::move(f->result);
        }
    }
};

TEST(StartWrite, OnlyForADriveThatIsStillListed) {
    JobRig rig;
    WindowWorkers window(rig.sys);
    WriteChoice choice{rig.request.image, rig.request.image_path, stick(), true};
    DeviceInfo other = stick();
    other.serial = "S2";
    EXPECT_FALSE(window.workers->start_write(choice, {}));
    EXPECT_FALSE(window.workers->start_write(choice, {other}));
    EXPECT_TRUE(rig.events().empty());

    DeviceInfo moved = stick();
    moved.letters = {'F'};  // letters do not make another drive
    auto job = window.workers->start_write(choice, {other, moved});
    ASSERT_TRUE(job);
    auto finished = window.finished();
    ASSERT_TRUE(finished);
    ASSERT_TRUE(*finished) << finished->error().text();
    EXPECT_FALSE((*finished)->eject);  // the window ejects as a later step
    EXPECT_FALSE(rig.happened("eject"));
    EXPECT_EQ(job->progress->read_phase(), WritePhase::Finishing);
    EXPECT_EQ(rig.stored(0, rig.image.size()), rig.image);
}

TEST(StartWrite, TheOperatorsStopCancelsTheRunningWrite) {
    JobRig rig;
    std::atomic<bool> writing{false};
    std::atomic<std::atomic<bool>*> flag{nullptr};
    rig.sys->disk->complete = [&](const FakeDisk::Request& r) -> std::optional<SlotOutcome> {
        if (r.direction == IoDirection::Write && r.offset >= MiB) {
            writing = true;
            // Holds the write until the operator's stop has been set.
            EXPECT_TRUE(test::eventually([&] { return flag.load() && flag.load()->load(); }));
        }
        return std::nullopt;
    };
    WindowWorkers window(rig.sys);
    WriteChoice choice{rig.request.image, rig.request.image_path, stick(), true};
    auto job = window.workers->start_write(choice, {stick()});
    ASSERT_TRUE(job);
    flag = job->stop.get();
    ASSERT_TRUE(test::eventually([&] { return writing.load(); }));
    window.workers->stop_write(*job);
    // The heartbeat ends with the job: its wait on the fake clock ends on the
    // job's signal alone (one that waited on would fail the test as hung).
    auto finished = window.finished();
    ASSERT_TRUE(finished);
    ASSERT_FALSE(*finished);
    EXPECT_EQ(finished->error().text(), "cancelled") << kind_name(finished->error().kind);
    // The window logs the operator's stop itself (see the controller's tests).
    EXPECT_TRUE(rig.sys->logged("write failed: cancelled"));
    EXPECT_TRUE(rig.head_zero());
}

}  // namespace
}  // namespace sw
