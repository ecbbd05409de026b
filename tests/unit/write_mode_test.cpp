// "--write" and "--benchmark" with the drive and its world as fakes: the
// lines and exit codes, the progress reporter, the benchmark's table and
// its run size.
#include <gtest/gtest.h>

#include <regex>

#include "cli/benchmark.h"
#include "cli/progress_reporter.h"
#include "cli/write_mode.h"
#include "hex/hex.h"
#include "image/crypto.h"
#include "support/fake_write_machine.h"
#include "support/test_images.h"
#include "support/temp_dir.h"

namespace sw {
namespace {

using test::FakeDisk;
using test::FakeWriteDisks;

using test::MiB;

DeviceInfo mode_stick(uint64_t size = 16 * MiB) {
    DeviceInfo d;
    d.instance_id = "USBSTOR\\DISK&VEN_ORTIVEX&PROD_STICK\\0001";
    d.vendor = "Ortivex";
    d.product = "Stick";
    d.serial = "S1";
    d.bus = BusKind{BusKind::Usb, 0};
    d.size = size;
    d.number = 4000000007u;
    d.removable = true;
    return d;
}

struct Output {
    std::vector<std::string> emitted;
    std::vector<std::string> printed;
    std::mutex mutex;
    WriteModeOutput sinks() {
        return WriteModeOutput{[this](std::string_view l) {
                                   std::lock_guard<std::mutex> lock(mutex);
                                   emitted.emplace_back(l);
                               },
                               [this](std::string_view l) {
                                   std::lock_guard<std::mutex> lock(mutex);
                                   printed.emplace_back(l);
                               }};
    }
};

struct WriteRig {
    std::string image = test::load_test_image("signed.iso");
    std::shared_ptr<FakeWriteDisks> sys = std::make_shared<FakeWriteDisks>(mode_stick(), image);
    Output out;
    ~WriteRig() { sys->gate->open(); }
    int run(bool verify = true) {
        return write_mode(test::machine_of(sys), mode_stick(), "signed.iso", verify, out.sinks(),
                          std::make_shared<std::atomic<bool>>(false));
    }
    std::string stored(size_t n) const {
        return std::string(reinterpret_cast<const char*>(sys->disk->storage.data()), n);
    }
};

std::string signed_digest_hex(std::string image) {
    auto block = test::image_fact("signed.iso", "block_offset");
    EXPECT_TRUE(block);
    std::fill_n(image.begin() + static_cast<ptrdiff_t>(*block), 4096, '\0');
    return hex_encode(
        sha256_in_process(std::span(reinterpret_cast<const uint8_t*>(image.data()), image.size())));
}

TEST(WriteMode, WritesTheSignedImageAndPrintsTheOkLine) {
    WriteRig rig;
    ASSERT_EQ(rig.run(), 0) << ::testing::PrintToString(rig.out.emitted);
    ASSERT_EQ(rig.out.emitted.size(), 2u) << ::testing::PrintToString(rig.out.emitted);
    EXPECT_EQ(rig.out.emitted[0],
              "image OFFICIAL 24.10.3118 (" + std::to_string(rig.image.size()) + " bytes)");
    std::regex ok(
        "^OK total=\\d+\\.\\ds write=\\d+\\.\\ds \\(\\d+\\.\\d MB/s\\) "
        "flush=\\d+\\.\\d\\ds verify=\\d+\\.\\ds \\(\\d+\\.\\d MB/s\\) "
        "digest=([0-9a-f]{64}) eject=Ok\\(\\(\\)\\)$");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(rig.out.emitted[1], m, ok)) << rig.out.emitted[1];
    EXPECT_EQ(m[1].str(), signed_digest_hex(rig.image));
    EXPECT_EQ(rig.stored(rig.image.size()), rig.image);

    // The job ejected the drive itself, after giving it back.
    auto events = rig.sys->events->all();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), "eject");
    // Progress lines go to standard output only and end with Finishing.
    ASSERT_FALSE(rig.out.printed.empty());
    EXPECT_EQ(rig.out.printed.back(), "  Finishing 0.0%");
    for (const auto& line : rig.out.printed)
        EXPECT_TRUE(std::regex_match(
            line, std::regex("^  (Preparing|Writing|Flushing|Verifying|Finishing) \\d+\\.\\d%$")))
            << line;
}

TEST(WriteMode, NoVerifyReadsBackOnlyTheHead) {
    WriteRig rig;
    ASSERT_EQ(rig.run(false), 0);
    EXPECT_NE(rig.out.emitted[1].find(" verify=0.0s "), std::string::npos) << rig.out.emitted[1];
    std::vector<FakeDisk::Request> reads;
    for (const auto& r : rig.sys->disk->requests)
        if (r.direction == IoDirection::Read) reads.push_back(r);
    // The write probe's read of the first 64 KiB, then the head's read-back.
    ASSERT_EQ(reads.size(), 2u);
    for (const auto& r : reads) {
        EXPECT_EQ(r.offset, 0u);
        EXPECT_EQ(r.length, 65536u);
    }
}

TEST(WriteMode, FailuresAndRefusals) {
    {
        WriteRig rig;
        rig.sys->disk->writable_error = message_error("Media is write protected.", kWriteProtected);
        EXPECT_EQ(rig.run(), 1);
        EXPECT_EQ(rig.out.emitted.back(),
                  "FAILED: drive does not accept writes (nothing was erased): writable query: "
                  "Media is write protected.; filesystem write test: skipped (the drive has no "
                  "drive letter)");
        EXPECT_EQ(rig.stored(65536), std::string(65536, '\0'));  // never written: still blank
    }
    {
        WriteRig rig;
        rig.sys->on_open_image = [] {
            return Result<std::unique_ptr<ImageReader>, std::string>(
                unexpected(std::string("No such file or directory (os error 2)")));
        };
        EXPECT_EQ(rig.run(), 1);
        EXPECT_EQ(rig.out.emitted,
                  std::vector<std::string>{"open failed: No such file or directory (os error 2)"});
        EXPECT_TRUE(rig.sys->events->all() == std::vector<std::string>{"open image"});
    }
    {
        WriteRig rig;
        rig.sys->image = test::load_test_image("signed-content-changed.iso");
        EXPECT_EQ(rig.run(), 1);
        EXPECT_EQ(rig.out.emitted, std::vector<std::string>{
                                       "image refused: image hash differs from the signed hash"});
        EXPECT_EQ(rig.sys->identify_calls(), 0);  // no drive was touched
    }
}

TEST(WriteMode, OkLineNumbers) {
    WriteReport report;
    report.pipeline.write_seconds = 10.04;
    report.pipeline.flush_seconds = 0.254;
    report.pipeline.verify_seconds = 1.5;
    report.pipeline.digest[0] = 0xab;
    report.eject = EjectOutcome(unexpected(std::string("CM_Request_Device_EjectW cr=23 veto=6 X")));
    EXPECT_EQ(ok_line(OutcomeStyle::Headless, 3000000, report, 12.345),
              "OK total=12.3s write=10.0s (0.3 MB/s) flush=0.25s verify=1.5s (2.0 MB/s) "
              "digest=ab00000000000000000000000000000000000000000000000000000000000000 "
              "eject=Err(\"CM_Request_Device_EjectW cr=23 veto=6 X\")");
    report.pipeline.write_seconds = 0;  // rates use at least 1 ms
    EXPECT_NE(ok_line(OutcomeStyle::Headless, 3000000, report, 0).find("write=0.0s (3000.0 MB/s)"),
              std::string::npos);
}

// A clock whose bounded waits end at once, calling `tick` each time (with
// the waiter's lock held).
class StillTickingClock final : public Clock {
  public:
    std::function<void()> tick;
    TimePoint now() override { return TimePoint{}; }
    void sleep_for(std::chrono::milliseconds) override {}
    bool wait_for(std::unique_lock<std::mutex>&, std::condition_variable&,
                  std::chrono::milliseconds, const std::function<bool()>& done) override {
        if (done()) return true;
        if (tick) tick();
        return done();
    }
};

TEST(ProgressReporter, PrintsWhatMovedAndEndsAfterFinishing) {
    EXPECT_EQ(progress_line(WritePhase::Writing, 42, 100), "  Writing 42.0%");
    EXPECT_EQ(progress_line(WritePhase::Flushing, 5, 0), "  Flushing 0.0%");
    EXPECT_EQ(progress_line(WritePhase::Verifying, 1, 3), "  Verifying 33.3%");

    WriteProgress progress;
    ReporterSignal signal;
    StillTickingClock clock;
    std::vector<std::string> lines;
    int ticks = 0;
    clock.tick = [&] {
        switch (++ticks) {
            case 2:
                progress.set(0, 1000, WritePhase::Writing);
                break;
            case 3:
                progress.done = 500;
                break;
            case 5:
                progress.set(0, 0, WritePhase::Finishing);
                break;
            case 6:
                progress.phase = 17;  // never seen: the reporter has ended
                break;
        }
    };
    run_progress_reporter(progress, signal, clock,
                          [&](std::string_view l) { lines.emplace_back(l); });
    EXPECT_EQ(lines, (std::vector<std::string>{"  Preparing 0.0%", "  Writing 0.0%",
                                               "  Writing 50.0%", "  Finishing 0.0%"}));
    EXPECT_EQ(ticks, 5);
}

TEST(ProgressReporter, AFailedJobEndsItToo) {
    WriteProgress progress;
    progress.set(10, 100, WritePhase::Writing);
    progress.phase = 99;  // unknown phases read as the first
    ReporterSignal signal;
    StillTickingClock clock;
    std::vector<std::string> lines;
    int ticks = 0;
    clock.tick = [&] {
        if (++ticks == 3) signal.job_ended = true;
    };
    run_progress_reporter(progress, signal, clock,
                          [&](std::string_view l) { lines.emplace_back(l); });
    EXPECT_EQ(lines, std::vector<std::string>{"  Preparing 10.0%"});
}

// --- Benchmark -----------------------------------------------------------------

struct BenchRig {
    std::shared_ptr<FakeWriteDisks> sys;
    std::vector<std::string> lines;

    explicit BenchRig(uint64_t size) {
        sys = std::make_shared<FakeWriteDisks>(mode_stick(size), "");
    }
    ~BenchRig() { sys->gate->open(); }
    // Two logical processors, without the system's SHA-256.
    int run(uint64_t mib) {
        return run_benchmark(test::machine_of(sys), sys->drive, mib, 2, false,
                             [this](std::string_view l) { lines.emplace_back(l); });
    }
};

// "{:<30} {:>3} MiB  {:>9.1}   {:>4.1}%"
const char* const kRow = "^(.{30}) ([ \\d]{2}\\d) MiB  ([ \\d]{6}\\d\\.\\d)   ( *\\d+\\.\\d)%$";

TEST(Benchmark, RunSize) {
    const uint64_t GB16 = 16'000'000'000ull / 512 * 512;
    EXPECT_EQ(bench_run_size(GB16, 512, 1024), 1024 * MiB);
    EXPECT_EQ(bench_run_size(1'000'000'000, 512, 1024), 500'000'000u / 512 * 512);
    // Half of an odd number of sectors is rounded down to whole sectors.
    EXPECT_EQ(bench_run_size(20481 * 512, 512, 1024), 10240u * 512);
    EXPECT_EQ(bench_run_size(2049 * 4096, 4096, 1024), 1024u * 4096);
    EXPECT_EQ(bench_run_size(GB16, 512, 0), 0u);
    EXPECT_EQ(bench_run_size(GB16, 512, UINT64_MAX), GB16 / 2);
}

TEST(Benchmark, TestDataIsTheXorshiftSequence) {
    std::vector<std::byte> data(16);
    fill_bench_data(data);
    EXPECT_EQ(hex_encode(std::span(reinterpret_cast<const uint8_t*>(data.data()), data.size())),
              "ad4df30bae771bdc76606e02b9eef064");
}

TEST(Benchmark, TheWholeTableOnADriveOfAnOddNumberOfSectors) {
    BenchRig rig(20481 * 512);  // half of it is not whole sectors
    ASSERT_EQ(rig.run(1024), 0);
    const auto& l = rig.lines;
    ASSERT_EQ(l.size(), 3u + 35u + 1u + 1u + 1u) << ::testing::PrintToString(l);
    EXPECT_EQ(l[0], "benchmark: 5 MiB per run, disk 4000000007 (10486272 bytes), 2 logical CPUs");
    EXPECT_EQ(l[1], "Method                         Chunk   Write MB/s   CPU");
    EXPECT_EQ(l[2], std::string(55, '-'));
    const std::regex row(kRow);
    const char* labels[] = {"Buffered",
                            "Write-through",
                            "No-buffering sync",
                            "Overlapped d2 x1MiB",
                            "Overlapped d4 x1MiB",
                            "Overlapped d4 x2MiB",
                            "Overlapped d8 x1MiB"};
    const char* chunks[] = {"  1", "  4", "  8", " 16", " 32"};
    for (size_t i = 0; i < 35; ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l[3 + i], m, row)) << l[3 + i];
        EXPECT_EQ(std::string(trim(m[1].str())), labels[i / 5]);
        EXPECT_EQ(m[2].str(), chunks[i % 5]);
    }
    EXPECT_TRUE(l[38].starts_with("Read (verify path) 8 MiB d4        ")) << l[38];
    EXPECT_EQ(l[38].size(), 35u + 9u);
    EXPECT_TRUE(l[39].starts_with("SHA-256 sha2 crate (one core)       ")) << l[39];
    EXPECT_TRUE(std::regex_match(l[40], std::regex("^best write: .+ \\d+ MiB at \\d+\\.\\d MB/s$")))
        << l[40];

    // Every piece was whole sectors; the drive holds the test data.
    for (const auto& r : rig.sys->disk->requests) {
        EXPECT_EQ(r.length % 512, 0u);
        EXPECT_LE(r.offset + r.length, 10240u * 512);
    }
    std::vector<std::byte> expected(1024);
    fill_bench_data(expected);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), rig.sys->disk->storage.begin()));
    EXPECT_TRUE(rig.sys->events->all().back().starts_with("device closed"));
}

TEST(Benchmark, ADriveThatRejectsWriteThroughGetsErrorRowsOnly) {
    BenchRig rig(64 * MiB);
    FakeWriteDisks* sys = rig.sys.get();  // the hook lives inside it: no owning copy
    sys->disk->complete = [sys](const FakeDisk::Request& r) -> std::optional<SlotOutcome> {
        if (r.direction == IoDirection::Write && sys->opened_config.write_through)
            return SlotOutcome{SlotOutcome::Failed, 0,
                               message_error("The parameter is incorrect. (os error 87)")};
        return std::nullopt;
    };
    ASSERT_EQ(rig.run(4), 0);
    for (size_t i = 0; i < 35; ++i) {
        const std::string& line = rig.lines[3 + i];
        if (i / 5 == 1) {
            EXPECT_TRUE(line.starts_with("Write-through                  ")) << line;
            EXPECT_TRUE(line.ends_with(" MiB  error: The parameter is incorrect. (os error 87)"))
                << line;
        } else {
            EXPECT_EQ(line.find("error"), std::string::npos) << line;
        }
    }
    EXPECT_EQ(rig.lines[3 + 5],
              "Write-through                    1 MiB  error: The parameter is "
              "incorrect. (os error 87)");
    EXPECT_TRUE(rig.lines.back().starts_with("best write: Buffered 1 MiB at "));
}

TEST(Benchmark, ZeroMiBWritesNothingButFlushes) {
    BenchRig rig(64 * MiB);
    ASSERT_EQ(rig.run(0), 0);
    EXPECT_EQ(rig.lines[0],
              "benchmark: 0 MiB per run, disk 4000000007 (67108864 bytes), 2 logical CPUs");
    for (const auto& r : rig.sys->disk->requests)
        EXPECT_NE(r.direction, IoDirection::Write);
    EXPECT_EQ(std::count(rig.sys->disk->calls.begin(), rig.sys->disk->calls.end(), "flush"), 35);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(rig.lines[3], m, std::regex(kRow))) << rig.lines[3];
    EXPECT_EQ(m[3].str(), "      0.0");
}

TEST(Benchmark, LockingAndOpeningFailuresEndIt) {
    {
        BenchRig rig(64 * MiB);
        rig.sys->volumes = {VolumeInfo{"\\\\?\\Volume{aa}\\", "", {4000000007u}, {'E'}, {}}};
        rig.sys->lock_error =
            message_error("FSCTL_LOCK_VOLUME failed on E:: Access is denied.", kInUse);
        EXPECT_EQ(rig.run(4), 1);
        EXPECT_EQ(rig.lines, std::vector<std::string>{
                                 "lock failed: FSCTL_LOCK_VOLUME failed on E:: Access is denied."});
    }
    {
        BenchRig rig(64 * MiB);
        rig.sys->on_open = [] {
            return std::optional<OsError>(message_error("Access is denied. (os error 5)"));
        };
        EXPECT_EQ(rig.run(4), 1);
        ASSERT_EQ(rig.lines.size(), 4u);
        EXPECT_EQ(rig.lines.back(), "open failed: Access is denied. (os error 5)");
    }
}

}  // namespace
}  // namespace sw
