// The Windows drive adapters under wine: overlapped transfers on a file
// opened exactly as a physical drive is, the time-limited control request,
// the disk and volume walks, and simulated drives through the real engine.
#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <fstream>

#include "core/text.h"
#include "disk/drives.h"
#include "disk/platform_disks.h"
#include "platform/win/disk/win_disk.h"
#include "platform/win/wide.h"
#include "support/aligned.h"
#include "support/fake_clock.h"
#include "support/machine.h"
#include "support/temp_dir.h"

#ifdef ORTIVEX_SIMULATED_DRIVES
#include "disk/simulated/sim_drives.h"
#include "disk/simulated/simulated.h"
#endif

namespace sw {
namespace {

using test::as_text;
using test::make_file;
using test::MiB;
using test::read_range;
namespace fs = std::filesystem;

std::string path_text(const fs::path& p) {
    return win::narrow(p.wstring());
}

TEST(OverlappedDisk, DeepUnbufferedTransfersOnAFile) {
    test::TempDir dir;
    auto path = dir / "disk.img";
    make_file(path, 16 * MiB);
    IoConfig config{.no_buffering = true, .write_through = false, .depth = 4, .io_size = MiB};
    auto disk = platform::open_async(path_text(path), open_mode_of(config), 4);
    ASSERT_TRUE(disk) << disk.error().text;
    RawDevice device(std::move(*disk), 0, 512, 16 * MiB, config, real_clock());

    test::Aligned out(5 * MiB + 4096);
    out.fill(1);
    ASSERT_TRUE(device.write_at(3 * MiB, out.span()));
    ASSERT_TRUE(device.flush());
    EXPECT_EQ(read_range(path, 3 * MiB, out.size()), as_text(out.span()));

    test::Aligned back(out.size());
    ASSERT_TRUE(device.read_at(3 * MiB, back.span()));
    EXPECT_EQ(as_text(back.span()), as_text(out.span()));

    // Reading past the end of the file fails or comes back short.
    test::Aligned tail(2 * MiB);
    EXPECT_FALSE(device.read_at(15 * MiB, tail.span()));
}

TEST(OverlappedDisk, OpenFailureKeepsTheWindowsCodeAndMessage) {
    test::TempDir dir;
    auto missing = platform::open_async(path_text(dir / "none.img"), OpenMode{}, 1);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(missing.error().is(kNotFound));
    EXPECT_NE(missing.error().text.find(" (os error 2)"), std::string::npos);
    auto drive = platform::open_async("\\\\.\\PhysicalDrive97", OpenMode{}, 1);
    EXPECT_FALSE(drive);
}

TEST(OverlappedDisk, ReopenReplacesTheHandle) {
    test::TempDir dir;
    auto path = dir / "disk.img";
    make_file(path, 2 * MiB);
    auto disk = platform::open_async(path_text(path), OpenMode{true, false}, 2);
    ASSERT_TRUE(disk);
    ASSERT_TRUE((*disk)->reopen(OpenMode{false, false}));
    test::Aligned out(MiB);
    out.fill(5);
    ASSERT_TRUE(run_transfer(**disk, IoDirection::Write, MiB, out.span(), 2, 65536, 512, 90000));
    ASSERT_TRUE((*disk)->flush());
    EXPECT_EQ(read_range(path, MiB, MiB), as_text(out.span()));
}

TEST(ControlWithTimeout, ARequestWithoutBuffersIsAnsweredNotHung) {
    test::TempDir dir;
    auto path = dir / "disk.img";
    make_file(path, MiB);
    win::Handle h(CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr));
    ASSERT_TRUE(h.valid());
    // A file is not a disk: the request ends at once, with or without an error.
    auto r = win::control_with_timeout(h.get(), IOCTL_DISK_IS_WRITABLE, 10000);
    if (!r) {
        EXPECT_NE(r.error().code, 0);
        EXPECT_FALSE(r.error().is(kTimedOut));
    }
    auto bad =
        win::control_with_timeout(reinterpret_cast<HANDLE>(0xDEAD0), IOCTL_DISK_IS_WRITABLE, 1000);
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().code, ERROR_INVALID_HANDLE);
}

TEST(WindowsWalks, DiskAndVolumeWalksRunToTheirEnd) {
    auto disks = test::dev_disks()->enumerate_disks();
    ASSERT_TRUE(disks) << disks.error().text;
    auto volumes = test::dev_disks()->enumerate_volumes();
    if (volumes) {
        for (const auto& v : *volumes)
            EXPECT_TRUE(v.name.starts_with("\\\\?\\Volume{")) << v.name;
    }
    EXPECT_EQ(win::narrow(win::physical_drive_path(3)), "\\\\.\\PhysicalDrive3");
}

TEST(WindowsFacts, UnknownVolumeDisksAreReasonsNotHarmless) {
    auto facts = gather_system_facts(test::dev_disks(), std::nullopt);
    DeviceInfo stick;
    stick.number = 7;
    stick.bus = BusKind{BusKind::Usb, 0};
    stick.size = 1 << 30;
    // Whatever this system answers, a fact is either a list or a reason, and
    // the reasons are exactly the Undetermined refusals of a drive on no disk.
    size_t reasons = 0;
    for (const DiskFact* f : {&facts.system_volume, &facts.boot_volume, &facts.boot_partition,
                              &facts.swap, &facts.executable, &facts.image})
        reasons += f->has_value() ? 0 : 1;
    EXPECT_EQ(refusals_for(stick, facts, std::nullopt).size(), reasons);
    EXPECT_EQ(facts.image, std::vector<uint32_t>{});
}

TEST(DiskClaim, ADiskOrFileIsClaimedOnceHoweverItIsNamed) {
    auto locker = platform::volume_locker();
    {
        auto first = locker->claim(7);
        ASSERT_TRUE(first) << first.error().text;
        auto second = locker->claim(7);
        ASSERT_FALSE(second);
        EXPECT_TRUE(second.error().is(kInUse));
        // A simulated drive backed by that disk names it by its path.
        auto by_path = platform::claim_path("\\\\.\\physicaldrive7");
        ASSERT_FALSE(by_path);
        EXPECT_TRUE(by_path.error().is(kInUse));
        EXPECT_TRUE(locker->claim(8));
    }
    EXPECT_TRUE(locker->claim(7));  // given back when the first claim ended

    test::TempDir dir;
    auto file = dir / "stick.img";
    make_file(file, MiB);
    auto held = platform::claim_path(path_text(file));
    ASSERT_TRUE(held) << held.error().text;
    auto again = platform::claim_path(ascii_upper(path_text(file)));
    ASSERT_FALSE(again);
    EXPECT_TRUE(again.error().is(kInUse));
    held->reset();
    EXPECT_TRUE(platform::claim_path(ascii_upper(path_text(file))));
    EXPECT_FALSE(platform::claim_path(path_text(dir / "missing.img")));
}

#ifdef ORTIVEX_SIMULATED_DRIVES

class SimulatedOnWindows : public ::testing::Test {
  protected:
    // This test's simulated drives, remembering what they went through.
    std::shared_ptr<SimulatedStates> states = std::make_shared<SimulatedStates>();
    std::shared_ptr<DiskSystem> disks() { return test::dev_disks(real_clock(), states); }
    std::shared_ptr<DiskSystem> disks(Clock& clock) { return test::dev_disks(clock, states); }
    test::TempDir dir;
};

TEST_F(SimulatedOnWindows, ListedAsUsbAndWrittenThroughOverlappedRequests) {
    auto file = dir / "stick.img";
    make_file(file, 8 * MiB);
    test::ScopedEnv env("ORTIVEX_SIMULATED_USB",
                        path_text(file) + ",serial=WINSTICK,usb=superplus,media-changed=2");
    auto drives = list_drives(disks());
    ASSERT_TRUE(drives);
    const DeviceInfo* stick = nullptr;
    for (const auto& d : *drives)
        if (d.number == 4000000000u) stick = &d;
    ASSERT_NE(stick, nullptr);
    EXPECT_EQ(stick->bus.kind, BusKind::Usb);
    EXPECT_EQ(stick->usb_speed, UsbSpeed::SuperPlus);
    EXPECT_EQ(stick->size, 8 * MiB);
    ASSERT_TRUE(identify_drive(disks(), identity_of(*stick)));

    test::FakeClock clock;
    auto device = disks(clock)->open_raw(
        stick->number, 512, stick->size,
        IoConfig{.no_buffering = true, .write_through = false, .depth = 4, .io_size = MiB});
    ASSERT_TRUE(device) << device.error().text;
    test::Aligned out(3 * MiB);
    out.fill(2);
    ASSERT_TRUE(device->write_at(MiB, out.span()));  // after two reopens of the file
    EXPECT_EQ(clock.sleeps().size(), 2u);
    ASSERT_TRUE(device->flush());
    EXPECT_EQ(read_range(file, MiB, out.size()), as_text(out.span()));
    test::Aligned back(out.size());
    ASSERT_TRUE(device->read_at(MiB, back.span()));
    EXPECT_EQ(as_text(back.span()), as_text(out.span()));
}

TEST_F(SimulatedOnWindows, TheBackingFileItselfHoldsTheDrive) {
    auto file = dir / "stick.img";
    make_file(file, MiB);
    auto other = dir / "other.iso";
    make_file(other, MiB);
    test::ScopedEnv env("ORTIVEX_SIMULATED_USB", path_text(file));
    // The same file under another spelling of its path is still that file.
    std::string upper = ascii_upper(path_text(file));
    EXPECT_EQ(simulated::disks_holding(*states, upper), std::vector<uint32_t>{4000000000u});
    EXPECT_TRUE(simulated::disks_holding(*states, path_text(other)).empty());
    EXPECT_TRUE(simulated::disks_holding(*states, path_text(dir.path())).empty());
}

TEST_F(SimulatedOnWindows, RemovalMakesTheDriveDisappear) {
    auto file = dir / "stick.img";
    make_file(file, 4 * MiB);
    test::ScopedEnv env("ORTIVEX_SIMULATED_USB", path_text(file) + ",remove-at=2097152");
    auto drives = disks()->enumerate_disks();
    ASSERT_TRUE(drives);
    DeviceInfo stick = drives->back();
    ASSERT_EQ(stick.number, 4000000000u);
    auto device = disks()->open_raw(
        stick.number, 512, stick.size,
        IoConfig{.no_buffering = true, .write_through = false, .depth = 1, .io_size = MiB});
    ASSERT_TRUE(device);
    test::Aligned out(4 * MiB);
    auto r = device->write_at(0, out.span());
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().code, ERROR_DEVICE_NOT_CONNECTED);
    auto again = identify_drive(disks(), identity_of(stick));
    EXPECT_EQ(again.error(), "disk 4000000000 is no longer present");
}

#endif  // ORTIVEX_SIMULATED_DRIVES

}  // namespace
}  // namespace sw
