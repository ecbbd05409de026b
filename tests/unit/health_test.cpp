// The drive check against fakes: verdicts and the report, the raw read and
// write-back tests over a scriptable disk, the write-acceptance probe, the
// file test and the diagnosis, and the whole check step by step with every
// way it can stop early.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>

#include "disk/disk_system.h"
#include "disk/health.h"
#include "disk/health_check.h"
#include "support/event_log.h"
#include "support/fake_clock.h"
#include "support/gate.h"
#include "support/recording_log.h"
#include "support/fake_disk.h"
#include "support/temp_dir.h"

namespace sw {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using test::FakeClock;
using test::Gate;
using Log = test::RecordingLog;
using test::FakeDisk;

using test::MiB;

OsError io_error() {
    return message_error("The request could not be performed because of an I/O device error.");
}
OsError write_protect_error() {
    return message_error("The media is write protected.", kWriteProtected);
}

// The calls of the system made by the check, in order, shared with threads.
using Calls = test::EventLog;

// --- Verdicts and the report -----------------------------------------------------

TEST(HealthReport, DebugRenderings) {
    EXPECT_EQ(debug_string(Verdict{Verdict::Pass, 1048576.0, {}}), "Pass(Some(1048576.0))");
    EXPECT_EQ(debug_string(Verdict{Verdict::Pass, 2.5e6, {}}), "Pass(Some(2500000.0))");
    EXPECT_EQ(debug_string(Verdict{Verdict::Pass, 0.1, {}}), "Pass(Some(0.1))");
    EXPECT_EQ(debug_string(Verdict{Verdict::Pass, std::nullopt, {}}), "Pass(None)");
    EXPECT_EQ(debug_string(Verdict{Verdict::NoResponse, {}, {}}), "NoResponse");
    EXPECT_EQ(debug_string(Verdict{Verdict::WriteProtected, {}, {}}), "WriteProtected");
    EXPECT_EQ(debug_string(Verdict{Verdict::Failed, {}, "at byte 0: \"x\" \\ y"}),
              "Failed(\"at byte 0: \\\"x\\\" \\\\ y\")");
    EXPECT_EQ(debug_string(Verdict{}), "Skipped");

    HealthReport fresh;
    EXPECT_EQ(debug_string(fresh),
              "HealthReport { drive: \"\", file_write: Skipped, read: Skipped, write: Skipped, "
              "error: None }");
    HealthReport r{"Acme \"Pocket\"", Verdict{Verdict::Pass, 1048576.0, {}},
                   Verdict{Verdict::Pass, std::nullopt, {}}, Verdict{Verdict::NoResponse, {}, {}},
                   std::string("drive in use: E:")};
    EXPECT_EQ(debug_string(r),
              "HealthReport { drive: \"Acme \\\"Pocket\\\"\", file_write: Pass(Some(1048576.0)), "
              "read: Pass(None), write: NoResponse, error: Some(\"drive in use: E:\") }");
}

TEST(HealthReport, HealthyRule) {
    const Verdict pass{Verdict::Pass, 1.0, {}};
    const Verdict skipped{};
    const Verdict protected_{Verdict::WriteProtected, {}, {}};
    const Verdict failed{Verdict::Failed, {}, "x"};
    auto report = [](Verdict f, Verdict r, Verdict w, std::optional<std::string> e = {}) {
        return HealthReport{"d", f, r, w, e};
    };
    EXPECT_TRUE(is_healthy(report(pass, pass, pass)));
    EXPECT_TRUE(is_healthy(report(skipped, pass, pass)));
    EXPECT_FALSE(is_healthy(report(protected_, pass, pass)));
    EXPECT_FALSE(is_healthy(report(failed, pass, pass)));
    EXPECT_FALSE(is_healthy(report(Verdict{Verdict::NoResponse, {}, {}}, pass, pass)));
    EXPECT_FALSE(is_healthy(report(pass, pass, protected_)));
    EXPECT_FALSE(is_healthy(report(pass, skipped, pass)));
    EXPECT_FALSE(is_healthy(report(pass, pass, skipped)));
    EXPECT_FALSE(is_healthy(report(pass, pass, pass, "drive protected: [NotUsb]")));
}

TEST(HealthReport, VerdictOfAnError) {
    EXPECT_EQ(verdict_of_error(os_timeout_error()).kind, Verdict::NoResponse);
    EXPECT_EQ(verdict_of_error(control_timeout_error(0x70000, 10000)).kind, Verdict::NoResponse);
    EXPECT_EQ(verdict_of_error(write_protect_error()).kind, Verdict::WriteProtected);
#ifdef _WIN32
    EXPECT_EQ(verdict_of_error(os_error(19)).kind, Verdict::WriteProtected);  // ERROR_WRITE_PROTECT
    EXPECT_EQ(verdict_of_error(os_error(1460)).kind, Verdict::NoResponse);    // ERROR_TIMEOUT
#else
    EXPECT_EQ(verdict_of_error(os_error(EROFS)).kind, Verdict::WriteProtected);
#endif
    // Anything else fails with the error's own text, a removed device included.
    OsError gone = message_error("The device is not connected.", kDisconnected);
    EXPECT_EQ(verdict_of_error(gone), (Verdict{Verdict::Failed, std::nullopt, gone.text}));
    EXPECT_EQ(verdict_of_error(io_error()),
              (Verdict{Verdict::Failed, std::nullopt, io_error().text}));
}

// --- Raw tests -----------------------------------------------------------------

// A RawDevice over a scriptable disk of `size` bytes. Storage is kept for the
// first 64 MiB; requests beyond it succeed without data.
struct RawRig {
    FakeClock clock;
    Log log;
    FakeDisk* disk = nullptr;
    std::optional<RawDevice> device;
    HealthReport report;

    explicit RawRig(uint64_t size, IoConfig config = health_check_config(), uint32_t sector = 512) {
        uint64_t kept = std::min<uint64_t>(size, 64 * MiB);
        auto d = std::make_unique<FakeDisk>(slot_count_for(config.depth), clock, kept);
        disk = d.get();
        for (size_t i = 0; i < disk->storage.size(); ++i)
            disk->storage[i] = static_cast<std::byte>((i * 7 + i / 4093) & 0xFF);
        uint64_t storage_size = kept;
        disk->complete = [storage_size](const FakeDisk::Request& r) -> std::optional<SlotOutcome> {
            if (r.offset >= storage_size)
                return SlotOutcome{SlotOutcome::Done, static_cast<uint32_t>(r.length), {}};
            return std::nullopt;
        };
        device.emplace(std::move(d), 5, sector, size, config, clock);
    }
    void run() { run_raw_test(*device, report, clock); }

    std::vector<uint64_t> offsets(IoDirection direction) const {
        std::vector<uint64_t> out;
        for (const auto& r : disk->requests)
            if (r.direction == direction) out.push_back(r.offset);
        return out;
    }
};

std::vector<uint64_t> mib_steps(uint64_t count) {
    std::vector<uint64_t> out;
    for (uint64_t i = 0; i < count; ++i)
        out.push_back(i * MiB);
    return out;
}

TEST(RawTest, EightMiBDriveIsReadWholeAndWrittenBackAtThreePlacesUnchanged) {
    RawRig rig(
        8 * MiB,
        IoConfig{.no_buffering = true, .write_through = true, .depth = 4, .io_size = 4 * MiB});
    auto before = rig.disk->storage;
    rig.run();
    EXPECT_EQ(rig.report.read.kind, Verdict::Pass);
    EXPECT_EQ(rig.report.write.kind, Verdict::Pass);
    // The read test: 8 requests of 1 MiB in order; then at 0, 3 MiB and 7 MiB
    // a read and a write-back of the very bytes read.
    auto reads = mib_steps(8);
    for (uint64_t at : {uint64_t{0}, 3 * MiB, 7 * MiB})
        reads.push_back(at);
    EXPECT_EQ(rig.offsets(IoDirection::Read), reads);
    EXPECT_EQ(rig.offsets(IoDirection::Write), (std::vector<uint64_t>{0, 3 * MiB, 7 * MiB}));
    for (const auto& r : rig.disk->requests)
        EXPECT_EQ(r.length, MiB);
    EXPECT_TRUE(rig.disk->storage == before);
    // Every request waited up to 45 s; afterwards the device's own settings
    // are back.
    for (uint32_t w : rig.disk->waits)
        EXPECT_EQ(w, 45000u);
    EXPECT_EQ(rig.device->wait_ms(), 90000u);
    EXPECT_EQ(
        rig.device->config(),
        (IoConfig{.no_buffering = true, .write_through = true, .depth = 4, .io_size = 4 * MiB}));
}

TEST(RawTest, HowMuchIsReadAndWhereItIsWrittenBack) {
    struct Case {
        uint64_t size;
        uint64_t read_mib;
        std::vector<uint64_t> writes;
    };
    const uint64_t GiB = 1024 * MiB;
    for (const Case& c : {
             Case{4 * GiB, 32, {0, 2047 * MiB, 4095 * MiB}},
             Case{20 * MiB, 20, {0, 9 * MiB, 19 * MiB}},
             Case{20 * MiB + 300 * 1024, 20, {0, 9 * MiB, 19 * MiB}},  // whole MiB only
             Case{1 * MiB, 1, {0, 0, 0}},
             Case{2 * MiB, 2, {0, 0, MiB}},
         }) {
        SCOPED_TRACE(c.size);
        RawRig rig(c.size);
        rig.run();
        EXPECT_EQ(rig.report.read.kind, Verdict::Pass);
        EXPECT_EQ(rig.report.write.kind, Verdict::Pass);
        auto reads = mib_steps(c.read_mib);
        reads.insert(reads.end(), c.writes.begin(), c.writes.end());
        EXPECT_EQ(rig.offsets(IoDirection::Read), reads);
        EXPECT_EQ(rig.offsets(IoDirection::Write), c.writes);
    }
}

TEST(RawTest, SpeedsCountTheWholeReadAndOnlyTheWriteBacks) {
    RawRig rig(8 * MiB);
    // Every request takes 10 ms: reading 8 MiB takes 80 ms; the write test
    // spends 30 ms reading and 30 ms writing back, and only the latter counts.
    auto inner = rig.disk->complete;
    FakeClock* clock = &rig.clock;
    rig.disk->complete = [inner, clock](const FakeDisk::Request& r) {
        clock->advance(milliseconds(10));
        return inner(r);
    };
    rig.run();
    ASSERT_EQ(rig.report.read.kind, Verdict::Pass);
    EXPECT_DOUBLE_EQ(*rig.report.read.speed, 8.0 * MiB / 0.080);
    ASSERT_EQ(rig.report.write.kind, Verdict::Pass);
    EXPECT_DOUBLE_EQ(*rig.report.write.speed, 3.0 * MiB / 0.030);

    // Without any elapsed time the floor of 1 ms applies.
    RawRig instant(2 * MiB);
    instant.run();
    EXPECT_DOUBLE_EQ(*instant.report.read.speed, 2.0 * MiB / 0.001);
    EXPECT_DOUBLE_EQ(*instant.report.write.speed, 3.0 * MiB / 0.001);
}

TEST(RawTest, WriteProtectedStickIsReadButNothingIsWritten) {
    RawRig rig(16 * MiB);
    rig.disk->writable_error = write_protect_error();
    rig.run();
    EXPECT_EQ(rig.report.read.kind, Verdict::Pass);
    EXPECT_EQ(rig.report.write, (Verdict{Verdict::WriteProtected, std::nullopt, {}}));
    EXPECT_TRUE(rig.offsets(IoDirection::Write).empty());
    EXPECT_EQ(rig.offsets(IoDirection::Read), mib_steps(16));
    EXPECT_FALSE(is_healthy(rig.report));
}

TEST(RawTest, AWritableQueryThatFailsOtherwiseIsIgnored) {
    RawRig rig(4 * MiB);
    rig.disk->writable_error = message_error("The request is not supported.");
    rig.run();
    EXPECT_EQ(rig.report.read.kind, Verdict::Pass);
    EXPECT_EQ(rig.report.write.kind, Verdict::Pass);
}

TEST(RawTest, DriveThatStopsAnsweringReads) {
    RawRig rig(64 * MiB);
    rig.disk->hang = [](const FakeDisk::Request& r) {
        return r.offset >= 2 * MiB ? FakeDisk::Hang::Forever : FakeDisk::Hang::No;
    };
    rig.run();
    EXPECT_EQ(rig.report.read.kind, Verdict::NoResponse);
    EXPECT_EQ(rig.report.write, (Verdict{Verdict::Failed, std::nullopt,
                                         "at byte 0: not tested: the drive could not be read"}));
    EXPECT_TRUE(rig.offsets(IoDirection::Write).empty());
    // It waited the check's 45 s, not the usual 90 s, then cancelled.
    EXPECT_EQ(rig.disk->waits[2], 45000u);
    EXPECT_NE(std::find(rig.disk->calls.begin(), rig.disk->calls.end(), "cancel_all"),
              rig.disk->calls.end());
    EXPECT_EQ(rig.device->wait_ms(), 90000u);

    // The same on a write-protected stick: the write test is WriteProtected.
    RawRig locked(64 * MiB);
    locked.disk->writable_error = write_protect_error();
    locked.disk->fail_issue = [](const FakeDisk::Request&) -> std::optional<OsError> {
        return io_error();
    };
    locked.run();
    EXPECT_EQ(locked.report.read, (Verdict{Verdict::Failed, std::nullopt, io_error().text}));
    EXPECT_EQ(locked.report.write.kind, Verdict::WriteProtected);
}

TEST(RawTest, FailuresInTheWriteTestSayWhere) {
    // The write-back at 3 MiB fails: the verdict names the offset.
    RawRig rig(8 * MiB);
    rig.disk->fail_issue = [](const FakeDisk::Request& r) -> std::optional<OsError> {
        if (r.direction == IoDirection::Write && r.offset == 3 * MiB) return io_error();
        return std::nullopt;
    };
    rig.run();
    EXPECT_EQ(rig.report.read.kind, Verdict::Pass);
    EXPECT_EQ(rig.report.write,
              (Verdict{Verdict::Failed, std::nullopt, "at byte 3145728: " + io_error().text}));
    // Offset 0 was written back; nothing after the failure.
    auto writes = rig.offsets(IoDirection::Write);
    EXPECT_EQ(writes.front(), 0u);
    EXPECT_EQ(std::count(writes.begin(), writes.end(), 7 * MiB), 0);

    // Its read fails (the first read of 7 MiB passed in the read test).
    RawRig reread(8 * MiB);
    int reads_at_7 = 0;
    reread.disk->fail_issue = [&](const FakeDisk::Request& r) -> std::optional<OsError> {
        if (r.direction == IoDirection::Read && r.offset == 7 * MiB && ++reads_at_7 == 2)
            return io_error();
        return std::nullopt;
    };
    reread.run();
    EXPECT_EQ(reread.report.write,
              (Verdict{Verdict::Failed, std::nullopt, "at byte 7340032: " + io_error().text}));

    // A write that the device refuses as write-protected stays WriteProtected.
    RawRig refused(8 * MiB);
    refused.disk->fail_issue = [](const FakeDisk::Request& r) -> std::optional<OsError> {
        if (r.direction == IoDirection::Write) return write_protect_error();
        return std::nullopt;
    };
    refused.run();
    EXPECT_EQ(refused.report.write.kind, Verdict::WriteProtected);
}

TEST(RawTest, DriveSmallerThanOneMiBIsNotTested) {
    RawRig rig(512 * 1024);
    rig.run();
    EXPECT_EQ(rig.report.read.kind, Verdict::Skipped);
    EXPECT_EQ(rig.report.write.kind, Verdict::Skipped);
    EXPECT_TRUE(rig.disk->requests.empty());
    ASSERT_EQ(rig.log.at(LogLevel::Info).size(), 1u);
}

// --- Write-acceptance probe --------------------------------------------------------

TEST(WriteProbe, ReadsAndWritesBackTheFirst64KiB) {
    RawRig rig(8 * MiB,
               IoConfig{.no_buffering = true, .write_through = false, .depth = 4, .io_size = MiB});
    auto before = rig.disk->storage;
    rig.disk->complete = [&](const FakeDisk::Request&) -> std::optional<SlotOutcome> {
        rig.clock.advance(milliseconds(7));
        return std::nullopt;
    };
    auto times = probe_writable(platform_disk_system(rig.clock), *rig.device);
    ASSERT_TRUE(times);
    EXPECT_EQ(times->read_ms, 7u);
    EXPECT_EQ(times->write_ms, 7u);
    ASSERT_EQ(rig.disk->requests.size(), 2u);
    EXPECT_EQ(rig.disk->requests[0].direction, IoDirection::Read);
    EXPECT_EQ(rig.disk->requests[1].direction, IoDirection::Write);
    for (const auto& r : rig.disk->requests) {
        EXPECT_EQ(r.offset, 0u);
        EXPECT_EQ(r.length, 65536u);
    }
    EXPECT_TRUE(rig.disk->storage == before);
    EXPECT_EQ(rig.disk->waits, (std::vector<uint32_t>{45000, 45000}));
    EXPECT_EQ(rig.device->config(),
              (IoConfig{.no_buffering = true, .write_through = false, .depth = 4, .io_size = MiB}));
    EXPECT_EQ(rig.device->wait_ms(), 90000u);
    EXPECT_TRUE(rig.log.lines().empty());
}

TEST(WriteProbe, FailedSteps) {
    {
        RawRig rig(8 * MiB);
        rig.disk->writable_error = write_protect_error();
        auto probe = probe_writable(platform_disk_system(rig.clock), *rig.device);
        ASSERT_FALSE(probe);
        EXPECT_EQ(probe.error().step, "writable query");
        EXPECT_TRUE(probe.error().error.is(kWriteProtected));
        EXPECT_TRUE(rig.disk->requests.empty());
    }
    {
        // Any other answer to the query: one INFO line naming the system's
        // query, and the probe goes on.
#ifdef _WIN32
        const std::string query = "IOCTL_DISK_IS_WRITABLE";
#else
        const std::string query = "BLKROGET";
#endif
        RawRig rig(8 * MiB);
        rig.disk->writable_error = message_error("Incorrect function. (os error 1)");
        auto probe = probe_writable(platform_disk_system(rig.clock), *rig.device);
        ASSERT_TRUE(probe);
        EXPECT_EQ(rig.log.lines(),
                  (std::vector<std::pair<LogLevel, std::string>>{
                      {LogLevel::Info, query + ": Incorrect function. (os error 1)"}}));
        EXPECT_EQ(rig.disk->requests.size(), 2u);
    }
    {
        RawRig rig(8 * MiB);
        rig.disk->fail_issue = [](const FakeDisk::Request&) -> std::optional<OsError> {
            return io_error();
        };
        auto probe = probe_writable(platform_disk_system(rig.clock), *rig.device);
        ASSERT_FALSE(probe);
        EXPECT_EQ(probe.error().step, "raw read of the first 64 KiB");
        EXPECT_EQ(probe.error().error.text, io_error().text);
        EXPECT_EQ(rig.disk->calls.back(), "cancel_all");
    }
    {
        RawRig rig(8 * MiB);
        rig.disk->fail_issue = [](const FakeDisk::Request& r) -> std::optional<OsError> {
            if (r.direction == IoDirection::Write) return write_protect_error();
            return std::nullopt;
        };
        auto probe = probe_writable(platform_disk_system(rig.clock), *rig.device);
        ASSERT_FALSE(probe);
        EXPECT_EQ(probe.error().step, "raw write-back of the first 64 KiB");
        EXPECT_TRUE(probe.error().error.is(kWriteProtected));
        EXPECT_EQ(rig.disk->calls.back(), "cancel_all");
        // Nothing but the bytes read ever reached the disk.
        for (const auto& r : rig.disk->requests)
            EXPECT_EQ(r.offset, 0u);
    }
}

// --- File test -------------------------------------------------------------------

// Files in memory, with a failure or a hang at any step.
class FakeFiles final : public FileOps {
  public:
    Calls calls;
    std::map<std::string, std::optional<OsError>> fail;  // step -> error
    std::shared_ptr<Gate> hang_on_write;
    std::map<std::string, std::string> files;
    std::mutex mutex;

    class File final : public TestFile {
      public:
        File(FakeFiles& owner, std::string path) : owner_(owner), path_(std::move(path)) {}
        Result<void, OsError> write(std::span<const std::byte> data) override {
            bool all_5a = std::all_of(data.begin(), data.end(),
                                      [](std::byte b) { return b == std::byte{0x5A}; });
            owner_.calls.add(fmt("write {} {}", data.size(), all_5a ? "0x5A" : "other"));
            if (owner_.hang_on_write) owner_.hang_on_write->wait();
            if (auto e = owner_.failure("write")) return unexpected(*e);
            std::lock_guard<std::mutex> lock(owner_.mutex);
            owner_.files[path_].append(reinterpret_cast<const char*>(data.data()), data.size());
            return {};
        }
        Result<void, OsError> flush() override {
            owner_.calls.add("flush");
            if (auto e = owner_.failure("flush")) return unexpected(*e);
            return {};
        }
        Result<void, OsError> close() override {
            owner_.calls.add("close");
            if (auto e = owner_.failure("close")) return unexpected(*e);
            return {};
        }

      private:
        FakeFiles& owner_;
        std::string path_;
    };

    std::optional<OsError> failure(const std::string& step) {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = fail.find(step);
        return it == fail.end() ? std::nullopt : it->second;
    }
    Result<std::unique_ptr<TestFile>, OsError> create(const std::string& path) override {
        calls.add("create " + path);
        if (auto e = failure("create")) return unexpected(*e);
        std::lock_guard<std::mutex> lock(mutex);
        files[path].clear();
        return std::unique_ptr<TestFile>(std::make_unique<File>(*this, path));
    }
    Result<void, OsError> remove(const std::string& path) override {
        calls.add("remove " + path);
        if (auto e = failure("remove")) return unexpected(*e);
        std::lock_guard<std::mutex> lock(mutex);
        files.erase(path);
        return {};
    }
};

TEST(FileTest, CreatesWritesFlushesClosesAndDeletes) {
    FakeFiles files;
    ASSERT_TRUE(run_file_test(files, "E:\\ortivex-write-test.tmp"));
    EXPECT_EQ(files.calls.all(),
              (std::vector<std::string>{"create E:\\ortivex-write-test.tmp", "write 1048576 0x5A",
                                        "flush", "close", "remove E:\\ortivex-write-test.tmp"}));
    EXPECT_TRUE(files.files.empty());
}

TEST(FileTest, AFailedWriteOrFlushLeavesTheFileClosedButInPlace) {
    for (std::string step : {"write", "flush"}) {
        SCOPED_TRACE(step);
        FakeFiles files;
        files.fail[step] = io_error();
        auto result = run_file_test(files, "/media/stick/ortivex-write-test.tmp");
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().text, io_error().text);
        auto calls = files.calls.all();
        EXPECT_EQ(calls.back(), "close");
        EXPECT_EQ(
            std::count(calls.begin(), calls.end(), "remove /media/stick/ortivex-write-test.tmp"),
            0);
    }
    for (std::string step : {"create", "close", "remove"}) {
        SCOPED_TRACE(step);
        FakeFiles files;
        files.fail[step] = write_protect_error();
        auto result = run_file_test(files, "F:\\ortivex-write-test.tmp");
        ASSERT_FALSE(result);
        EXPECT_TRUE(result.error().is(kWriteProtected));
    }
}

TEST(FileTest, TargetsAndFileSystems) {
    auto e = letter_target('E');
    EXPECT_EQ(e.label, "E");
    EXPECT_EQ(e.root, "E:\\");
    EXPECT_EQ(e.file, "E:\\ortivex-write-test.tmp");
    auto m = mount_point_target("/media/me/STICK", "8:17");
    EXPECT_EQ(m.root, "/media/me/STICK");
    EXPECT_EQ(m.file, "/media/me/STICK/ortivex-write-test.tmp");
    EXPECT_EQ(mount_point_target("/", "8:1").file, "/ortivex-write-test.tmp");

    for (std::string_view name : {"FAT", "FAT32", "NTFS", "EXFAT", "exFAT", "fat32", "vfat",
                                  "msdos", "ntfs", "ntfs3", "exfat"})
        EXPECT_TRUE(file_system_qualifies(name)) << name;
    for (std::string_view name :
         {"", "UDF", "CDFS", "ReFS", "ext4", "btrfs", "fuseblk", "FAT16", "NTFS ", "iso9660"})
        EXPECT_FALSE(file_system_qualifies(name)) << name;

    // On Linux: every mount point of every volume on the disk, in order.
    std::vector<VolumeInfo> volumes{
        {"/dev/sdb", "8:16", {3}, {}, {}},
        {"/dev/sdb1", "8:17", {3}, {}, {"/media/a", "/srv/a"}},
        {"/dev/sda1", "8:1", {1}, {}, {"/"}},
        {"/dev/sdb2", "8:18", {3}, {}, {"/media/b"}},
    };
    auto targets = mount_point_targets(3, volumes);
    ASSERT_EQ(targets.size(), 3u);
    EXPECT_EQ(targets[0].root, "/media/a");
    EXPECT_EQ(targets[0].device, "8:17");
    EXPECT_EQ(targets[1].root, "/srv/a");
    EXPECT_EQ(targets[2].file, "/media/b/ortivex-write-test.tmp");

    // The name from the mount table: only the mount that is seen there, and
    // only when it can be written.
    auto mount = [](std::string point, uint32_t minor, std::string fs, std::string opts,
                    std::string super) {
        MountEntry e;
        e.major = 8;
        e.minor = minor;
        e.mount_point = std::move(point);
        e.mount_options = std::move(opts);
        e.fs_type = std::move(fs);
        e.super_options = std::move(super);
        return e;
    };
    std::vector<MountEntry> mounts{
        mount("/media/a", 17, "vfat", "rw,nosuid,nodev,relatime", "rw,fmask=0022"),
        mount("/srv/a", 17, "vfat", "ro,relatime", "rw,fmask=0022"),
        mount("/media/b", 18, "exfat", "rw,relatime", "rw,uid=1000"),
        mount("/media/b", 2, "ext4", "rw,relatime", "rw"),
    };
    EXPECT_EQ(mounted_file_system(targets[0], mounts), "vfat");
    EXPECT_EQ(mounted_file_system(targets[1], mounts), std::nullopt);  // read-only mount
    EXPECT_EQ(mounted_file_system(targets[2], mounts), std::nullopt);  // covered by another
    EXPECT_EQ(mounted_file_system(mount_point_target("/media/c", "8:19"), mounts), std::nullopt);
    mounts[0].super_options = "ro,fmask=0022";
    EXPECT_EQ(mounted_file_system(targets[0], mounts), std::nullopt);  // read-only file system
    mounts[0].super_options = "rw,errors=remount-ro";
    EXPECT_EQ(mounted_file_system(targets[0], mounts), "vfat");
}

// This machine's drive seam with the fake's files and the test's clock.
class FileDisks final : public DiskSystemWrapper {
  public:
    FileDisks(std::shared_ptr<FakeFiles> files, FakeClock& clock)
        : DiskSystemWrapper(platform_disk_system(clock)), files_(std::move(files)) {}
    std::shared_ptr<FileOps> file_ops() override { return files_; }

  private:
    std::shared_ptr<FakeFiles> files_;
};

std::shared_ptr<DiskSystem> with_files(std::shared_ptr<FakeFiles> files, FakeClock& clock) {
    return std::make_shared<FileDisks>(std::move(files), clock);
}

TEST(FileSystemDiagnosis, EachOutcome) {
    {
        // No letter: at once, without the pause.
        FakeClock clock;
        auto files = std::make_shared<FakeFiles>();
        EXPECT_EQ(filesystem_diagnosis(with_files(files, clock), std::nullopt),
                  "skipped (the drive has no drive letter)");
        EXPECT_TRUE(clock.sleeps().empty());
        EXPECT_TRUE(files->calls.all().empty());
    }
    {
        FakeClock clock;
        auto files = std::make_shared<FakeFiles>();
        EXPECT_EQ(filesystem_diagnosis(with_files(files, clock), 'E'),
                  "OK on E: in 0 ms (Windows can write files to this drive)");
        EXPECT_EQ(clock.sleeps(), (std::vector<milliseconds>{milliseconds(1500)}));
        EXPECT_EQ(files->calls.all().front(), "create E:\\ortivex-write-test.tmp");
    }
    {
        FakeClock clock;
        auto files = std::make_shared<FakeFiles>();
        files->fail["create"] = write_protect_error();
        EXPECT_EQ(filesystem_diagnosis(with_files(files, clock), 'F'),
                  "FAILED on F: " + write_protect_error().text);
    }
    {
        FakeClock clock;
        auto files = std::make_shared<FakeFiles>();
        files->hang_on_write = std::make_shared<Gate>(clock, seconds(25));
        EXPECT_EQ(filesystem_diagnosis(with_files(files, clock), 'G'),
                  "filesystem write test did not finish within 25 s on G: (Windows cannot write "
                  "to this drive either)");
        files->hang_on_write->open();
    }
}

// --- The whole check ---------------------------------------------------------------

DeviceInfo health_stick() {
    DeviceInfo d;
    d.instance_id = "USBSTOR\\DISK&VEN_ACME&PROD_POCKET\\0001";
    d.vendor = "Acme";
    d.product = "Pocket";
    d.serial = "S1";
    d.letters = {'E', 'F'};
    d.bus = BusKind{BusKind::Usb, 7};
    d.size = 16 * MiB;
    d.number = 7;
    d.logical_sector = 512;
    d.removable = true;
    return d;
}

SystemFacts clean_facts() {
    DiskFact none = std::vector<uint32_t>{0};
    return SystemFacts{none, none, none, std::vector<uint32_t>{}, none, std::vector<uint32_t>{}};
}

// What the fake system and the devices it opens share. A thread that a time
// limit abandoned may still hold a device when the test has ended, so they
// own it together.
struct Shared {
    FakeClock clock;
    Calls calls;
    // What the last opened disk saw, kept when it is closed.
    std::vector<FakeDisk::Request> requests;
    std::vector<std::byte> storage;
};

// A volume lock that tells when it is released.
class RecordingLock final : public VolumeLock {
  public:
    explicit RecordingLock(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
    ~RecordingLock() override { shared_->calls.add("volumes released"); }

  private:
    std::shared_ptr<Shared> shared_;
};

// A disk that tells when it is closed.
class ClosingDisk final : public AsyncDisk {
  public:
    ClosingDisk(std::shared_ptr<Shared> shared, std::unique_ptr<FakeDisk> inner)
        : shared_(std::move(shared)), inner_(std::move(inner)) {}
    ~ClosingDisk() override {
        shared_->requests = inner_->requests;
        shared_->storage = inner_->storage;
        shared_->calls.add("device closed");
    }
    size_t slots() const override { return inner_->slots(); }
    Result<void, OsError> issue(size_t s, IoDirection d, uint64_t o, std::byte* p,
                                size_t n) override {
        return inner_->issue(s, d, o, p, n);
    }
    SlotOutcome wait(size_t s, uint32_t ms) override { return inner_->wait(s, ms); }
    void cancel(size_t s) override { inner_->cancel(s); }
    void cancel_all() override { inner_->cancel_all(); }
    Result<void, OsError> flush() override { return inner_->flush(); }
    Result<void, OsError> reopen(const OpenMode& m) override { return inner_->reopen(m); }
    Result<void, OsError> query_writable(uint32_t ms) override {
        return inner_->query_writable(ms);
    }

  private:
    std::shared_ptr<Shared> shared_;
    std::unique_ptr<FakeDisk> inner_;
};

// A volume handle of the fake locker.
class PlainLock final : public VolumeLock {};

// Locks that answer at once; opening a volume fails with `error` when set.
class FakeLocker final : public VolumeLocker {
  public:
    FakeLocker(std::shared_ptr<Shared> shared, std::optional<OsError> error)
        : shared_(std::move(shared)), error_(std::move(error)) {}
    Result<std::unique_ptr<VolumeLock>, OsError> claim(uint32_t number) override {
        shared_->calls.add(fmt("claim {}", number));
        // Given back last, after every volume.
        return std::unique_ptr<VolumeLock>(std::make_unique<RecordingLock>(shared_));
    }
    Result<std::unique_ptr<VolumeLock>, OsError> open(const VolumeInfo& volume) override {
        shared_->calls.add("lock " + volume.name);
        if (error_) return unexpected(*error_);
        return std::unique_ptr<VolumeLock>(std::make_unique<PlainLock>());
    }
    Result<void, OsError> lock(VolumeLock&, uint32_t) override { return {}; }
    Result<void, OsError> dismount(VolumeLock&, uint32_t) override { return {}; }
    std::string_view lock_name() const override { return "FSCTL_LOCK_VOLUME"; }
    std::string_view dismount_name() const override { return "FSCTL_DISMOUNT_VOLUME"; }
    Result<std::unique_ptr<VolumeLock>, OsError> hold_disk(uint32_t) override {
        return std::unique_ptr<VolumeLock>();
    }

  private:
    std::shared_ptr<Shared> shared_;
    std::optional<OsError> error_;
};

// This machine's drive seam with the answers of one check in its place.
class FakeHealth final : public DiskSystemWrapper {
  public:
    explicit FakeHealth(std::shared_ptr<Shared> shared)
        : DiskSystemWrapper(platform_disk_system(shared->clock)),
          shared_(std::move(shared)),
          calls(shared_->calls) {}

    std::optional<DeviceInfo> identified = health_stick();  // nothing: the drive was pulled
    SystemFacts facts_answer = clean_facts();
    std::map<std::string, std::optional<std::string>> fs_names{{"E:\\", "FAT32"},
                                                               {"F:\\", "FAT32"}};
    std::shared_ptr<FakeFiles> files = std::make_shared<FakeFiles>();
    Result<std::vector<VolumeInfo>, OsError> volumes_answer = std::vector<VolumeInfo>{
        {"\\\\?\\Volume{e}\\", "\\Device\\HarddiskVolume9", {7}, {'E'}, {}}};
    std::optional<OsError> lock_error;
    std::optional<OsError> open_error;
    std::optional<OsError> writable_error;
    std::shared_ptr<Gate> hang_facts;
    std::shared_ptr<Gate> hang_volumes;
    std::shared_ptr<Gate> hang_open;

    Result<std::vector<DeviceInfo>, OsError> enumerate_disks() override {
        calls.add("list disks");
        if (!identified) return std::vector<DeviceInfo>{};
        return std::vector<DeviceInfo>{*identified};
    }
    // The facts come through the queries that gathering them asks: places
    // named after the facts, each located as `facts_answer` says. The volume
    // list read for them belongs to "facts", not to the lock step.
    Result<SystemPlaces, std::string> system_places() override {
        calls.add("facts");
        if (hang_facts) hang_facts->wait();
        gathering_ = true;
        SystemPlaces places;
        places.system = std::vector<std::string>{"system"};
        places.boot = std::string("boot");
        places.boot_partition = BootPartitionPlace{"boot partition", {}};
        places.swap = std::vector<SwapPlace>{{"swap"}};
        places.executable = std::string("executable");
        return places;
    }
    DiskFact locate_path(const std::vector<VolumeInfo>&, const std::string& path) override {
        if (path == "system") return facts_answer.system_volume;
        if (path == "boot") return facts_answer.boot_volume;
        if (path == "boot partition") return facts_answer.boot_partition;
        if (path == "swap") return facts_answer.swap;
        if (path == "executable") return facts_answer.executable;
        return facts_answer.image;
    }
    std::vector<uint32_t> disks_backed_by(const std::string&) override { return {}; }
    void add_held(std::vector<std::pair<uint32_t, std::string>>& held) override {
        held.insert(held.end(), facts_answer.held.begin(), facts_answer.held.end());
    }
    std::vector<FileTestTarget> file_test_targets(const DeviceInfo& drive) override {
        std::vector<FileTestTarget> out;
        for (char letter : drive.letters)
            out.push_back(letter_target(letter));
        return out;
    }
    std::optional<std::string> file_system_name(const FileTestTarget& target) override {
        calls.add("file system of " + target.root);
        auto it = fs_names.find(target.root);
        return it == fs_names.end() ? std::nullopt : it->second;
    }
    std::shared_ptr<FileOps> file_ops() override { return files; }
    Result<std::vector<VolumeInfo>, OsError> enumerate_volumes() override {
        if (gathering_.exchange(false)) return std::vector<VolumeInfo>{};
        calls.add("volumes");
        if (hang_volumes) hang_volumes->wait();
        return volumes_answer;
    }
    std::unique_ptr<VolumeLocker> volume_locker() override {
        return std::make_unique<FakeLocker>(shared_, lock_error);
    }
    Result<RawDevice, OsError> open_raw(uint32_t number, uint32_t sector, uint64_t size,
                                        const IoConfig& config) override {
        calls.add(fmt("open {} {} {}", number, sector, size));
        EXPECT_EQ(config, health_check_config());
        if (hang_open) hang_open->wait();
        if (open_error) return unexpected(*open_error);
        auto disk = std::make_unique<FakeDisk>(1, shared_->clock, size);
        disk->writable_error = writable_error;
        return RawDevice(std::make_unique<ClosingDisk>(shared_, std::move(disk)), number, sector,
                         size, config, shared_->clock);
    }

  private:
    std::shared_ptr<Shared> shared_;
    std::atomic<bool> gathering_{false};

  public:
    Calls& calls;
};

struct CheckRig {
    std::shared_ptr<Shared> shared = std::make_shared<Shared>();
    FakeClock& clock = shared->clock;
    Log log;
    std::shared_ptr<FakeHealth> system = std::make_shared<FakeHealth>(shared);
    DeviceInfo drive = health_stick();

    HealthReport run() { return check_health(system, drive); }
    std::vector<std::string> calls() { return system->calls.all(); }
    std::vector<std::string> file_calls() { return system->files->calls.all(); }
};

bool all_skipped(const HealthReport& r) {
    return r.file_write.kind == Verdict::Skipped && r.read.kind == Verdict::Skipped &&
           r.write.kind == Verdict::Skipped;
}

TEST(HealthCheck, HealthyDriveStepByStep) {
    CheckRig rig;
    auto report = rig.run();
    EXPECT_EQ(report.drive, "Acme Pocket");
    EXPECT_FALSE(report.error);
    EXPECT_EQ(report.file_write.kind, Verdict::Pass);
    EXPECT_EQ(report.read.kind, Verdict::Pass);
    EXPECT_EQ(report.write.kind, Verdict::Pass);
    EXPECT_TRUE(is_healthy(report));
    // Letters E and F, both FAT32: the file test runs on E only.
    EXPECT_EQ(rig.calls(),
              (std::vector<std::string>{"list disks", "facts", "file system of E:\\", "volumes",
                                        "claim 7", "lock \\\\?\\Volume{e}\\", "open 7 512 16777216",
                                        "device closed", "volumes released"}));
    EXPECT_EQ(rig.file_calls(),
              (std::vector<std::string>{"create E:\\ortivex-write-test.tmp", "write 1048576 0x5A",
                                        "flush", "close", "remove E:\\ortivex-write-test.tmp"}));
    EXPECT_EQ(rig.log.at(LogLevel::Info).front(),
              "health check start: disk 7 'Acme Pocket' serial='S1'");
    // Nothing but the bytes read went back: the disk is still all zeros.
    const auto& storage = rig.shared->storage;
    ASSERT_EQ(storage.size(), 16 * MiB);
    EXPECT_TRUE(
        std::all_of(storage.begin(), storage.end(), [](std::byte b) { return b == std::byte{0}; }));
}

TEST(HealthCheck, FileTestLetters) {
    {
        // Only a file system other than the four: Skipped, and still healthy.
        CheckRig rig;
        rig.system->fs_names = {{"E:\\", "UDF"}, {"F:\\", "ReFS"}};
        auto report = rig.run();
        EXPECT_EQ(report.file_write.kind, Verdict::Skipped);
        EXPECT_TRUE(is_healthy(report));
        EXPECT_TRUE(rig.file_calls().empty());
    }
    {
        // A letter whose volume does not answer is passed over.
        CheckRig rig;
        rig.system->fs_names = {{"F:\\", "NTFS"}};
        auto report = rig.run();
        EXPECT_EQ(report.file_write.kind, Verdict::Pass);
        EXPECT_EQ(rig.file_calls().front(), "create F:\\ortivex-write-test.tmp");
    }
    {
        // No letter at all.
        CheckRig rig;
        rig.drive.letters.clear();
        auto report = rig.run();
        EXPECT_EQ(report.file_write.kind, Verdict::Skipped);
        EXPECT_TRUE(is_healthy(report));
    }
}

TEST(HealthCheck, FileTestOutcomes) {
    {
        CheckRig rig;
        rig.system->files->fail["create"] = write_protect_error();
        auto report = rig.run();
        EXPECT_EQ(report.file_write.kind, Verdict::WriteProtected);
        EXPECT_FALSE(is_healthy(report));
        // The raw tests still run.
        EXPECT_EQ(report.read.kind, Verdict::Pass);
        // The first qualifying letter decides; F is not tried after E failed.
        EXPECT_EQ(rig.file_calls(), std::vector<std::string>{"create E:\\ortivex-write-test.tmp"});
    }
    {
        CheckRig rig;
        rig.system->files->fail["flush"] = io_error();
        auto report = rig.run();
        EXPECT_EQ(report.file_write, (Verdict{Verdict::Failed, std::nullopt, io_error().text}));
    }
    {
        // The file test hangs: NoResponse after 25 s, and the check goes on.
        CheckRig rig;
        rig.system->files->hang_on_write = std::make_shared<Gate>(rig.clock, seconds(25));
        auto report = rig.run();
        rig.system->files->hang_on_write->open();
        EXPECT_EQ(report.file_write.kind, Verdict::NoResponse);
        EXPECT_EQ(report.read.kind, Verdict::Pass);
        EXPECT_FALSE(report.error);
    }
}

TEST(HealthCheck, DriveHoldingTheSystemStopsWithItsRefusals) {
    CheckRig rig;
    rig.system->facts_answer.boot_volume = std::vector<uint32_t>{7};
    rig.system->facts_answer.swap = std::vector<uint32_t>{0, 7};
    auto report = rig.run();
    EXPECT_EQ(report.error, "drive protected: [SystemDrive, Pagefile]");
    EXPECT_TRUE(all_skipped(report));
    EXPECT_EQ(rig.calls(), (std::vector<std::string>{"list disks", "facts"}));
    EXPECT_TRUE(rig.file_calls().empty());

    // The refusals are those of the drive as re-identified, undetermined
    // facts included.
    CheckRig moved;
    DeviceInfo sata = health_stick();
    sata.bus = BusKind{BusKind::Sata, 11};
    moved.system->identified = sata;
    moved.system->facts_answer.boot_partition = unexpected(std::string("SystemPartition: x"));
    report = moved.run();
    EXPECT_EQ(report.error, "drive protected: [NotUsb, Undetermined(\"SystemPartition: x\")]");
}

TEST(HealthCheck, StepsThatEndTheCheck) {
    {
        CheckRig rig;
        rig.system->identified = std::nullopt;
        auto report = rig.run();
        EXPECT_EQ(report.error, "disk 7 is no longer present");
        EXPECT_TRUE(all_skipped(report));
        EXPECT_EQ(rig.calls(), std::vector<std::string>{"list disks"});
    }
    {
        CheckRig rig;
        rig.system->hang_facts = std::make_shared<Gate>(rig.clock, seconds(60));
        auto report = rig.run();
        rig.system->hang_facts->open();
        EXPECT_EQ(report.error, "system disk check did not finish within 60 s");
        EXPECT_TRUE(all_skipped(report));
    }
    {
        CheckRig rig;
        rig.system->volumes_answer = unexpected(io_error());
        auto report = rig.run();
        EXPECT_EQ(report.error, "volume enumeration: " + io_error().text);
        // The file test ran before.
        EXPECT_EQ(report.file_write.kind, Verdict::Pass);
        EXPECT_EQ(report.read.kind, Verdict::Skipped);
    }
    {
        CheckRig rig;
        rig.system->hang_volumes = std::make_shared<Gate>(rig.clock, seconds(60));
        auto report = rig.run();
        rig.system->hang_volumes->open();
        EXPECT_EQ(report.error, "volume enumeration did not finish within 60 s");
    }
    {
        CheckRig rig;
        rig.system->lock_error =
            message_error("FSCTL_LOCK_VOLUME failed on E:: Access is denied.", kInUse);
        auto report = rig.run();
        EXPECT_EQ(report.error, "drive in use: FSCTL_LOCK_VOLUME failed on E:: Access is denied.");
        EXPECT_EQ(report.read.kind, Verdict::Skipped);
    }
    {
        CheckRig rig;
        rig.system->lock_error = message_error("The parameter is incorrect. (os error 87)");
        auto report = rig.run();
        EXPECT_EQ(report.error, "lock volumes: The parameter is incorrect. (os error 87)");
    }
    {
        CheckRig rig;
        rig.system->open_error = message_error("Access is denied. (os error 5)", kAccessDenied);
        auto report = rig.run();
        EXPECT_EQ(report.error, "open disk: Access is denied. (os error 5)");
        // The locks were taken and are given back.
        EXPECT_EQ(rig.calls().back(), "volumes released");
    }
    {
        CheckRig rig;
        rig.system->hang_open = std::make_shared<Gate>(rig.clock, seconds(30));
        auto report = rig.run();
        rig.system->hang_open->open();
        EXPECT_EQ(report.error, "opening the drive did not finish within 30 s");
        EXPECT_EQ(report.read.kind, Verdict::Skipped);
    }
}

TEST(HealthCheck, WriteProtectedStick) {
    CheckRig rig;
    rig.system->writable_error = write_protect_error();
    rig.system->files->fail["create"] = write_protect_error();
    auto report = rig.run();
    EXPECT_EQ(report.file_write.kind, Verdict::WriteProtected);
    EXPECT_EQ(report.read.kind, Verdict::Pass);
    EXPECT_EQ(report.write.kind, Verdict::WriteProtected);
    EXPECT_FALSE(report.error);
    EXPECT_FALSE(is_healthy(report));
    ASSERT_FALSE(rig.shared->requests.empty());
    for (const auto& r : rig.shared->requests)
        EXPECT_EQ(r.direction, IoDirection::Read);
}

}  // namespace
}  // namespace sw
