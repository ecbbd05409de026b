// The restore job on simulated USB drives through the platform's own
// transfer engine: a drive that held an image given one partition and an
// empty file system, and every fault a drive can show, each ending with its
// text and with no partition table left that claims a file system.
#ifdef ORTIVEX_SIMULATED_DRIVES

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "core/paths.h"
#include "disk/drives.h"
#include "disk/simulated/backing.h"
#include "disk/simulated/simulated.h"
#include "support/drive_world.h"
#include "support/format_image.h"
#include "support/machine.h"
#include "support/simulated_stick.h"
#include "support/temp_dir.h"
#include "support/test_images.h"
#include "writer/restore_job.h"

namespace sw {
namespace {

namespace fs = std::filesystem;
using test::DriveWorld;
using test::MiB;

constexpr uint32_t kSerial = 0x1234ABCD;

#ifdef _WIN32
constexpr int kIoErrorCode = 1117;  // ERROR_IO_DEVICE
#else
constexpr int kIoErrorCode = 5;  // EIO
#endif

std::string simulated_text(platform::SimulatedError e) {
    return platform::simulated_error(e).text;
}

using test::count_lines;

// The first sector of a drive an image was written to: a table with one
// bootable entry, as a hybrid ISO has.
std::string old_table() {
    std::string s(512, '\0');
    s[446] = '\x80';
    s[446 + 4] = '\x17';
    s[446 + 8] = '\x40';
    s[446 + 12] = '\x00';
    s[446 + 13] = '\x10';
    s[510] = '\x55';
    s[511] = '\xAA';
    return s;
}

class SimulatedRestore : public test::SimulatedStickTest {
  public:
    // A simulated drive backed by a sparse file that starts with an old
    // partition table, and its listed record.
    DeviceInfo attach(const std::string& settings, uint64_t size = 64 * MiB) {
        entry =
            utf8_of(stick_file.empty() ? dir / "stick.img" : stick_file) + ",serial=E2E" + settings;
        return SimulatedStickTest::attach(settings, size, old_table());
    }
    RestoreRequest request_for(const DeviceInfo& drive) {
        RestoreRequest r;
        r.drive = drive;
        r.volume_serial = kSerial;
        return r;
    }
    // The four entries of the drive's partition table, all zero.
    bool no_partition_entry() { return stick_zero(446, 64); }
    uint32_t refreshes() {
        auto parsed = parse_simulated_drives(entry);
        return world->simulated_states().of(parsed.drives.at(0))->layout_refreshes.load();
    }

    std::string entry;  // the stick's entry in the simulated drive list

    std::shared_ptr<DriveWorld> world = std::make_shared<DriveWorld>();
};

TEST_F(SimulatedRestore, TheDriveHoldsTheLayoutAndTheSystemIsAskedToReadIt) {
    struct Case {
        std::string settings;
        uint64_t size;
        uint32_t sector;
        format::FileSystem fs;
    };
    for (const Case& c : {Case{"", 64 * MiB, 512, format::FileSystem::Fat32},
                          Case{",sector=4096", 300 * MiB, 4096, format::FileSystem::Fat32}}) {
        SCOPED_TRACE(c.settings);
        world = std::make_shared<DriveWorld>();
        DeviceInfo drive = attach(c.settings, c.size);
        ASSERT_EQ(drive.logical_sector, c.sector);
        auto result = run_restore_job(request_for(drive), test::machine_of(world));
        ASSERT_TRUE(result) << result.error().text() << "\n" << log();

        auto layout = format::lay_out(c.size, c.sector, kSerial);
        ASSERT_TRUE(layout);
        for (const auto& e : layout->extents) {
            std::string want = e.bytes.empty() ? std::string(e.length, '\0')
                                               : std::string(e.bytes.begin(), e.bytes.end());
            ASSERT_EQ(stick(e.offset, e.length), want) << "extent at " << e.offset;
        }
        EXPECT_EQ(result->fs, c.fs);
        EXPECT_EQ(result->cluster_bytes, layout->cluster_bytes);
        EXPECT_EQ(result->capacity_bytes, layout->capacity_bytes());
        // The old tables are cleared first, then everything is written once.
        EXPECT_EQ(result->bytes_written, layout->bytes_written() + layout->extents.back().length);
        EXPECT_FALSE(result->refresh_failure);
        EXPECT_EQ(refreshes(), 1u);
        EXPECT_EQ(world->events(), std::vector<std::string>{"refresh"});
        EXPECT_NE(log().find(" ms: write test passed (read "), std::string::npos) << log();
        // One entry, from 1 MiB to the drive's end.
        std::string table = stick(446, 16);
        EXPECT_EQ(test::le32({table.begin() + 8, table.end()}, 0), MiB / c.sector);
        EXPECT_EQ(test::le32({table.begin() + 8, table.end()}, 4), (c.size - MiB) / c.sector);
        EXPECT_TRUE(stick(462, 48) == std::string(48, '\0'));
        std::string text = log();
        EXPECT_EQ(count_lines(text, "INFO  restore start: disk 4000000000"), 1u);
        EXPECT_NE(text.find("prepare +"), std::string::npos);
        EXPECT_EQ(count_lines(text, "phase Verifying: drive re-identified (same drive)"), 1u);
        EXPECT_EQ(count_lines(text, " WARN  "), 0u) << text;
        Logger::shut_down();
        Logger::init(dir / fmt("logs{}", c.sector));
    }
}

TEST_F(SimulatedRestore, ADriveTooSmallForTheFileSystemIsLeftAsItWas) {
    DeviceInfo drive = attach("", 16 * MiB);
    auto result = run_restore_job(request_for(drive), test::machine_of(world));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().text(), fmt("cannot restore this drive: {}",
                                         format::describe(format::FormatError::TooSmall)));
    EXPECT_EQ(stick(0, 512), old_table());
    EXPECT_TRUE(world->events().empty());
}

// A fault of the drive, and how the restore must end.
struct Fault {
    const char* name;
    std::string settings;
    std::function<void(SimulatedRestore&, DriveWorld&, RestoreRequest&)> arrange;
    std::function<std::string()> text;
    size_t warnings = 0;
    bool nothing_written = false;
};

void PrintTo(const Fault& f, std::ostream* os) {
    *os << f.name;
}

class SimulatedRestoreFault : public SimulatedRestore,
                              public ::testing::WithParamInterface<Fault> {};

TEST_P(SimulatedRestoreFault, EndsWithItsTextAndNoTableClaimingAFileSystem) {
    const Fault& f = GetParam();
    DeviceInfo drive = attach(f.settings);
    RestoreRequest request = request_for(drive);
    if (f.arrange) f.arrange(*this, *world, request);
    auto result = run_restore_job(request, test::machine_of(world));
    ASSERT_FALSE(result);
    test::expect_text(result.error().text(), f.text());
    if (f.nothing_written) {
        // Ended before the first write: the drive is as it was.
        EXPECT_EQ(stick(0, 512), old_table());
        EXPECT_TRUE(stick_zero(512, 4 * MiB));
    } else {
        EXPECT_TRUE(no_partition_entry());
    }
    // Nothing asks the system to read a table that was not written.
    EXPECT_EQ(refreshes(), 0u);
    EXPECT_EQ(count_lines(log(), " WARN  "), f.warnings) << log();
}

using SE = platform::SimulatedError;

void stop_at_identification(DriveWorld& w, RestoreRequest& r, int call) {
    auto stop = r.stop;
    w.before_identify = [stop, call](int n) {
        if (n == call) *stop = true;
    };
}

void swap_at_identification(SimulatedRestore& t, DriveWorld& w, int call) {
    w.before_identify = [&t, call](int n) {
        if (n == call) t.set_drives(utf8_of(t.stick_file) + ",serial=SWAPPED");
    };
}

// Identifications: 1 before locking, 2 after, 3 writing, 4 flushing, 5 verifying.
INSTANTIATE_TEST_SUITE_P(
    Faults, SimulatedRestoreFault,
    ::testing::Values(
        Fault{"RemovedWhileWriting", ",remove-at=2097152", nullptr,
              [] { return "device disconnected: " + simulated_text(SE::Removed); }},
        Fault{"WriteError", ",error=" + std::to_string(kIoErrorCode) + "@1048576", nullptr,
              [] { return "device write failed: " + os_error(kIoErrorCode).text; },
              2},  // 64 KiB requests, then buffered, then the error
        Fault{"MediaChangedOnEveryRequest", "",
              [](SimulatedRestore& t, DriveWorld& w, RestoreRequest&) {
                  w.before_identify =
                      t.media_changes_at(w.simulated_states(), 3, 1000);  // after the probe
              },
              [] { return "device write failed: " + simulated_text(SE::MediaChanged); }, 2,
              true},  // not even the old table could be cleared
        Fault{"SilentlyDroppedWrites", ",drop-writes-at=1048576", nullptr,
              [] { return std::string("device content differs from the image"); }},
        Fault{"WriteProtected", ",write-protect", nullptr,
              [] {
                  return "drive does not accept writes (nothing was erased): writable query: " +
                         simulated_text(SE::WriteProtected) +
                         "; filesystem write test: skipped (the drive has no drive letter)";
              },
              0, true},  // the writable query finds the protection before any write
        Fault{"SwappedBeforeLocking", "",
              [](SimulatedRestore& t, DriveWorld& w, RestoreRequest&) {
                  swap_at_identification(t, w, 1);
              },
              [] { return std::string("drive identity changed: expected DeviceIdentity {…"); }, 0,
              true},
        Fault{"SwappedBeforeWriting", "",
              [](SimulatedRestore& t, DriveWorld& w, RestoreRequest&) {
                  swap_at_identification(t, w, 3);
              },
              [] { return std::string("refused: expected DeviceIdentity {…"); }, 0, true},
        Fault{"SwappedBeforeVerifying", "",
              [](SimulatedRestore& t, DriveWorld& w, RestoreRequest&) {
                  swap_at_identification(t, w, 5);
              },
              [] { return std::string("refused: expected DeviceIdentity {…"); }},
        Fault{"StoppedWhilePreparing", "",
              [](SimulatedRestore&, DriveWorld&, RestoreRequest& r) { *r.stop = true; },
              [] { return std::string("cancelled"); }, 0, true},
        Fault{"StoppedBeforeWriting", "",
              [](SimulatedRestore&, DriveWorld& w, RestoreRequest& r) {
                  stop_at_identification(w, r, 3);
              },
              [] { return std::string("cancelled"); }, 0, true},
        Fault{"StoppedWhileFlushing", "",
              [](SimulatedRestore&, DriveWorld& w, RestoreRequest& r) {
                  stop_at_identification(w, r, 4);
              },
              [] { return std::string("cancelled"); }},
        Fault{"StoppedWhileVerifying", "",
              [](SimulatedRestore&, DriveWorld& w, RestoreRequest& r) {
                  stop_at_identification(w, r, 5);
              },
              [] { return std::string("cancelled"); }}),
    [](const ::testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

TEST(RestoreJob, SummaryAndOutcomeLines) {
    RestoreReport r;
    r.fs = format::FileSystem::ExFat;
    r.cluster_bytes = 131072;
    r.capacity_bytes = 64023257088;  // 59.6 GiB
    r.bytes_written = 5 * MiB;
    r.write_seconds = 0.25;
    EXPECT_EQ(restored_summary(r), "exFAT, 128 KiB clusters, 59.6 GiB");
    EXPECT_EQ(restore_outcome_line(r),
              "restore OK: exFAT, 128 KiB clusters, 59.6 GiB; 5242880 bytes written, write 0.2s, "
              "flush 0.0s, verify 0.0s");
    r.fs = format::FileSystem::Fat32;
    r.cluster_bytes = 512;
    r.capacity_bytes = 60 * MiB + 512 * 1024;
    EXPECT_EQ(restored_summary(r), "FAT32, 512 B clusters, 60.5 MiB");
    RestoreResult failed = unexpected(JobError::of(JobError::Kind::InUse, "held"));
    EXPECT_EQ(restore_outcome_line(failed), "restore failed: drive in use: held");
}

TEST(RestoreJob, SerialsOfNeighbouringMomentsDiffer) {
    auto t = std::chrono::system_clock::time_point(std::chrono::seconds(1'800'000'000));
    uint32_t a = volume_serial_at(t);
    uint32_t b = volume_serial_at(t + std::chrono::seconds(1));
    EXPECT_NE(a, b);
    EXPECT_NE(a, 0u);
    EXPECT_EQ(a, volume_serial_at(t));
}

}  // namespace
}  // namespace sw

#endif  // ORTIVEX_SIMULATED_DRIVES
