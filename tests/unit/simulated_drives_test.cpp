// Simulated USB drives: their settings, and their faults as the transfer
// engine and its recoveries meet them.
#ifdef ORTIVEX_SIMULATED_DRIVES

#include <gtest/gtest.h>

#include "disk/simulated/simulated.h"
#include "disk/windows_drive_records.h"
#include "support/fake_clock.h"
#include "support/fake_disk.h"
#include "support/recording_log.h"
#include "support/temp_dir.h"

namespace sw {
namespace {

using std::chrono::milliseconds;
using test::FakeClock;
using test::FakeDisk;

using test::MiB;

TEST(SimulatedSettings, EntriesWithTheirFaults) {
    auto p = parse_simulated_drives(
        "/tmp/a.img,serial=ABC 1,usb=super,error=1117@4096,error=5@0,media-changed=2,"
        "remove-at=1048576,write-protect,drop-writes-at=65536,mbps=20,hang-at=8192,sector=4096;"
        " ;C:\\sticks\\b.img;/dev/loop0,usb=none,vendor=Kingston,product=DataTraveler");
    EXPECT_TRUE(p.problems.empty());
    ASSERT_EQ(p.drives.size(), 3u);
    const auto& a = p.drives[0];
    EXPECT_EQ(a.path, "/tmp/a.img");
    EXPECT_EQ(a.serial, "ABC 1");
    EXPECT_EQ(a.usb, UsbSpeed::Super);
    EXPECT_EQ(a.sector, 4096u);
    EXPECT_EQ(a.faults.errors, (std::vector<std::pair<int, uint64_t>>{{1117, 4096}, {5, 0}}));
    EXPECT_EQ(a.faults.media_changed, 2u);
    EXPECT_EQ(a.faults.remove_at, 1048576u);
    EXPECT_TRUE(a.faults.write_protected);
    EXPECT_EQ(a.faults.drop_writes_at, 65536u);
    EXPECT_EQ(a.faults.mbps, 20.0);
    EXPECT_EQ(a.faults.hang_at, 8192u);
    EXPECT_EQ(a.number(), 4000000000u);
    // Numbers follow the position in the list, empty entries included.
    EXPECT_EQ(p.drives[1].path, "C:\\sticks\\b.img");
    EXPECT_EQ(p.drives[1].serial, "SIM3");
    EXPECT_EQ(p.drives[1].number(), 4000000002u);
    EXPECT_EQ(p.drives[1].usb, UsbSpeed::High);
    EXPECT_FALSE(p.drives[2].usb);
    EXPECT_EQ(p.drives[2].vendor, "Kingston");
}

TEST(SimulatedSettings, UnknownSettingsLeaveTheEntryOutAndAreReported) {
    auto p = parse_simulated_drives(
        "/a.img,speed=fast;/b.img,sector=520;/c.img,error=5;,serial=x;/d.img");
    ASSERT_EQ(p.drives.size(), 1u);
    EXPECT_EQ(p.drives[0].path, "/d.img");
    ASSERT_EQ(p.problems.size(), 4u);
    EXPECT_EQ(p.problems[0], "simulated drive 1: setting 'speed=fast' not understood");
    EXPECT_EQ(p.problems[3], "simulated drive 4: no path");
}

TEST(SimulatedSettings, DescriptorTextsAreCleanedAsARealDrivesAre) {
    // What the setting can hold: anything but the separators.
    auto p = parse_simulated_drives(
        "/x.img,serial= S\x01N'1\t\x7f\xc3\xa9 ,vendor=Ort\nivex,product=\x1b[31mRed\"");
    ASSERT_EQ(p.drives.size(), 1u);
    auto d = simulated_record(p.drives[0], 1 << 20, 512, 512);
    EXPECT_EQ(d.serial, clean_text(p.drives[0].serial));
    EXPECT_EQ(d.serial, "S N'1");
    EXPECT_EQ(d.vendor, "Ort ivex");
    EXPECT_EQ(d.product, "[31mRed\"");
    EXPECT_EQ(drive_label(d), "Ort ivex [31mRed\"");
}

TEST(SimulatedSettings, RecordIsAUsbDiskOfWholeSectors) {
    auto p = parse_simulated_drives("/x.img,serial=S1");
    auto d = simulated_record(p.drives[0], 1000 * 512 + 100, 512, 512);
    EXPECT_EQ(d.bus.kind, BusKind::Usb);
    EXPECT_TRUE(d.removable);
    EXPECT_EQ(d.size, 512000u);
    EXPECT_EQ(d.serial, "S1");
    EXPECT_EQ(d.number, 4000000000u);
    EXPECT_EQ(drive_label(d), "Ortivex Simulated USB");
}

// A simulated drive over a scriptable backing disk.
struct SimRig {
    FakeClock clock;
    FakeDisk* backing = nullptr;
    std::shared_ptr<SimulatedState> state = std::make_shared<SimulatedState>();
    test::RecordingLog log;
    std::optional<RawDevice> device;

    SimRig(SimulatedFaults faults,
           IoConfig config =
               IoConfig{.no_buffering = true, .write_through = false, .depth = 4, .io_size = MiB},
           uint64_t size = 16 * MiB) {
        state->media_changed_left = faults.media_changed;
        auto inner = std::make_unique<FakeDisk>(slot_count_for(config.depth), clock, size);
        backing = inner.get();
        auto disk =
            std::make_unique<FaultInjectingDisk>(std::move(inner), state, faults, size, clock);
        device.emplace(std::move(disk), 4000000000u, 512, size, config, clock);
    }
};

std::vector<std::byte> bytes(size_t n, int v) {
    return std::vector<std::byte>(n, static_cast<std::byte>(v));
}

TEST(SimulatedFaults, ErrorCodeAtAnOffset) {
    SimulatedFaults f;
    f.errors = {{1117, 3 * MiB + 512}};
    SimRig rig(f);
    auto data = bytes(2 * MiB, 1);
    ASSERT_TRUE(rig.device->write_at(0, data));
    auto r = rig.device->read_at(2 * MiB, data);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().code, 1117);
}

TEST(SimulatedFaults, MediaChangedThreeTimesIsRecoveredFourTimesIsNot) {
    SimulatedFaults f;
    f.media_changed = 3;
    SimRig rig(f);
    auto data = bytes(MiB, 2);
    ASSERT_TRUE(rig.device->write_at(0, data));
    EXPECT_EQ(rig.backing->opens.size(), 3u);
    ASSERT_TRUE(rig.device->flush());

    f.media_changed = 4;
    SimRig worse(f);
    auto r = worse.device->flush();
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().is(kMediaChanged));
    EXPECT_EQ(worse.clock.sleeps(),
              (std::vector<milliseconds>{milliseconds(300), milliseconds(600), milliseconds(900)}));
}

TEST(SimulatedFaults, RemovalAtAnOffsetEndsEverythingFast) {
    SimulatedFaults f;
    f.remove_at = 5 * MiB;
    SimRig rig(f);
    auto data = bytes(4 * MiB, 3);
    ASSERT_TRUE(rig.device->write_at(0, data));
    auto r = rig.device->write_at(4 * MiB, data);
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().is(kDisconnected));
    EXPECT_TRUE(rig.state->removed);
    EXPECT_TRUE(rig.log.lines().empty());  // no degradation for a device that is gone
    EXPECT_FALSE(rig.device->flush());
    EXPECT_FALSE(rig.device->read_at(0, data));
}

TEST(SimulatedFaults, WriteProtection) {
    SimulatedFaults f;
    f.write_protected = true;
    SimRig rig(
        f, IoConfig{.no_buffering = true, .write_through = false, .depth = 1, .io_size = 65536});
    auto data = bytes(MiB, 4);
    ASSERT_TRUE(rig.device->read_at(0, data));
    auto w = rig.device->write_at(0, data);
    ASSERT_FALSE(w);
    EXPECT_TRUE(w.error().is(kWriteProtected));
    auto q = rig.device->query_writable(10000);
    ASSERT_FALSE(q);
    EXPECT_TRUE(q.error().is(kWriteProtected));
}

TEST(SimulatedFaults, DroppedWritesReportSuccess) {
    SimulatedFaults f;
    f.drop_writes_at = MiB + 4096;
    SimRig rig(f);
    auto data = bytes(2 * MiB, 5);
    ASSERT_TRUE(rig.device->write_at(0, data));
    std::vector<std::byte> back(2 * MiB);
    ASSERT_TRUE(rig.device->read_at(0, back));
    EXPECT_EQ(back[MiB + 4095], std::byte{5});
    EXPECT_EQ(back[MiB + 4096], std::byte{0});
    EXPECT_EQ(back[2 * MiB - 1], std::byte{0});
}

TEST(SimulatedFaults, RequestThatNeverCompletes) {
    SimulatedFaults f;
    f.hang_at = MiB;
    SimRig rig(f,
               IoConfig{.no_buffering = true, .write_through = false, .depth = 1, .io_size = MiB});
    auto data = bytes(2 * MiB, 6);
    auto r = rig.device->read_at(0, data);
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().is(kTimedOut));
    EXPECT_EQ(rig.clock.elapsed(), milliseconds(90000));
}

// A clock whose sleeps take no time and whose n-th sleep sets `stop`: an
// operator who stops while a request of the drive hangs.
class StopAtSleep final : public Clock {
  public:
    StopAtSleep(std::atomic<bool>& stop, int n) : stop_(stop), n_(n) {}
    TimePoint now() override { return TimePoint{} + elapsed; }
    void sleep_for(milliseconds d) override {
        elapsed += d;
        if (++sleeps == n_) stop_ = true;
    }
    bool wait_for(std::unique_lock<std::mutex>&, std::condition_variable&, milliseconds,
                  const std::function<bool()>& done) override {
        return done();
    }
    milliseconds elapsed{0};
    int sleeps = 0;

  private:
    std::atomic<bool>& stop_;
    int n_;
};

TEST(SimulatedFaults, AStopCancelsARequestThatNeverCompletes) {
    std::atomic<bool> stop{false};
    StopAtSleep clock(stop, 5);
    FakeClock backing_clock;
    SimulatedFaults f;
    f.hang_at = MiB;
    const IoConfig config{.no_buffering = true, .write_through = false, .depth = 1, .io_size = MiB};
    auto inner = std::make_unique<FakeDisk>(1, backing_clock, 16 * MiB);
    FakeDisk* backing = inner.get();
    auto state = std::make_shared<SimulatedState>();
    test::RecordingLog log;
    RawDevice device(
        std::make_unique<FaultInjectingDisk>(std::move(inner), state, f, 16 * MiB, clock),
        4000000000u, 512, 16 * MiB, config, clock);
    auto data = bytes(2 * MiB, 6);
    {
        auto watching = device.stop_on(stop);
        auto r = device.write_at(0, data);
        ASSERT_FALSE(r);
        EXPECT_TRUE(r.error().is(kStopped)) << r.error().text;
    }
    // Seen at the fifth look, half a second into a wait of 90 s.
    EXPECT_EQ(clock.elapsed, milliseconds(500));
    EXPECT_TRUE(log.lines().empty());         // no gentler retry
    ASSERT_EQ(backing->requests.size(), 1u);  // the hanging request never reached the file
    // The cancelled request is settled: its slot serves the next one.
    f.hang_at.reset();
    ASSERT_TRUE(device.write_at(2 * MiB, data));
}

TEST(SimulatedFaults, SpeedLimit) {
    SimulatedFaults f;
    f.mbps = 10;
    SimRig rig(f,
               IoConfig{.no_buffering = true, .write_through = false, .depth = 4, .io_size = MiB});
    auto data = bytes(10 * 1000 * 1000 / 4096 * 4096, 7);
    ASSERT_TRUE(rig.device->write_at(0, data));
    auto ms = rig.clock.elapsed().count();
    EXPECT_GE(ms, 995);
    EXPECT_LE(ms, 1010);
}

TEST(SimulatedFaults, RequestsPastTheEndTransferOnlyWhatIsInside) {
    SimRig rig(SimulatedFaults{},
               IoConfig{.no_buffering = true, .write_through = false, .depth = 1, .io_size = MiB},
               3 * MiB / 2);
    auto data = bytes(MiB, 8);
    auto r = rig.device->read_at(MiB, data);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().text, "short transfer 524288/1048576");
}

}  // namespace
}  // namespace sw

#endif  // ORTIVEX_SIMULATED_DRIVES
