// The Linux drive adapters for real: io_uring with O_DIRECT on a file and on
// a loop device, the disk walk and the volumes of a partitioned loop device,
// locking a mounted file system away, and simulated drives on both.
// Loop device tests need root and a working losetup; they skip otherwise.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>

#include "linux/loop_device.h"
#include "core/text.h"
#include "disk/drives.h"
#include "disk/eject_steps.h"
#include "disk/platform_disks.h"
#include "support/aligned.h"
#include "support/eventually.h"
#include "support/fake_clock.h"
#include "support/machine.h"
#include "support/temp_dir.h"

#ifdef ORTIVEX_SIMULATED_DRIVES
#include "disk/simulated/simulated.h"
#endif

namespace sw {
namespace {

using test::as_text;
using test::make_file;
using test::MiB;
using test::read_range;
namespace fs = std::filesystem;
using test::Loop;
using test::shell;

// The device's waits are real ones: these transfers reach the kernel.
Result<RawDevice, OsError> open_file(const std::string& path, IoConfig config, uint64_t size,
                                     Clock& clock) {
    auto disk = platform::open_async(path, open_mode_of(config), slot_count_for(config.depth));
    if (!disk) return unexpected(disk.error());
    return RawDevice(std::move(*disk), 0, 512, size, config, clock);
}

bool mounted(const fs::path& point) {
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line))
        if (line.find(" " + point.string() + " ") != std::string::npos) return true;
    return false;
}

const DeviceInfo* find(const std::vector<DeviceInfo>& drives, uint32_t number) {
    for (const auto& d : drives)
        if (d.number == number) return &d;
    return nullptr;
}

TEST(UringDisk, DeepUnbufferedTransfersOnAFile) {
    test::TempDir dir;
    auto path = dir / "disk.img";
    make_file(path, 16 * MiB);
    auto device = open_file(
        path.string(),
        IoConfig{.no_buffering = true, .write_through = false, .depth = 4, .io_size = MiB},
        16 * MiB, real_clock());
    if (!device && device.error().code == EINVAL) GTEST_SKIP() << "no O_DIRECT on this file system";
    ASSERT_TRUE(device) << device.error().text;
    EXPECT_EQ(device->slots(), 4u);

    test::Aligned out(5 * MiB + 4096);
    out.fill(1);
    ASSERT_TRUE(device->write_at(3 * MiB, out.span()));
    ASSERT_TRUE(device->flush());
    EXPECT_EQ(read_range(path, 3 * MiB, out.size()), as_text(out.span()));

    test::Aligned back(out.size());
    ASSERT_TRUE(device->read_at(3 * MiB, back.span()));
    EXPECT_EQ(as_text(back.span()), as_text(out.span()));
    EXPECT_TRUE(device->query_writable(10000));

    // Past the end of the file a read comes back short.
    test::Aligned tail(2 * MiB);
    auto r = device->read_at(15 * MiB, tail.span());
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().text, "short transfer 0/1048576");
}

TEST(UringDisk, SystemErrorsKeepTheirErrnoAndText) {
    test::TempDir dir;
    auto path = dir / "disk.img";
    make_file(path, 4 * MiB);
    auto device = open_file(
        path.string(),
        IoConfig{.no_buffering = true, .write_through = false, .depth = 2, .io_size = MiB}, 4 * MiB,
        real_clock());
    if (!device && device.error().code == EINVAL) GTEST_SKIP() << "no O_DIRECT on this file system";
    ASSERT_TRUE(device);
    // Far beyond the largest file the file system can hold.
    test::Aligned buf(MiB);
    auto r = device->read_at(0, buf.span());
    ASSERT_TRUE(r);
    r = run_transfer(*platform::open_async(path.string(), OpenMode{true, false}, 1).value(),
                     IoDirection::Write, uint64_t{1} << 60, buf.span(), 1, MiB, 512, 90000);
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().code == EFBIG || r.error().code == EINVAL) << r.error().text;
    EXPECT_EQ(r.error().text, os_error(r.error().code).text);
    EXPECT_NE(r.error().text.find(fmt("(os error {})", r.error().code)), std::string::npos);

    auto missing = platform::open_async((dir / "none").string(), OpenMode{}, 1);
    ASSERT_FALSE(missing);
    EXPECT_TRUE(missing.error().is(kNotFound));
}

TEST(UringDisk, AStopCancelsARequestThatNeverCompletes) {
    // A read from an empty pipe is a request the kernel never completes.
    test::TempDir dir;
    auto fifo = dir / "never";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const IoConfig config{
        .no_buffering = false, .write_through = false, .depth = 1, .io_size = 4096};
    auto device = open_file(fifo.string(), config, MiB, real_clock());
    ASSERT_TRUE(device) << device.error().text;
    test::Aligned buf(4096);
    std::atomic<bool> stop{true};
    {
        auto watching = device->stop_on(stop);
        auto r = device->read_at(0, buf.span());
        ASSERT_FALSE(r);
        EXPECT_TRUE(r.error().is(kStopped)) << r.error().text;
    }
    // io_uring settled the cancelled read: the next one gets the bytes.
    int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    std::string bytes(4096, 'z');
    ASSERT_EQ(::write(writer, bytes.data(), bytes.size()), 4096);
    ::close(writer);
    ASSERT_TRUE(device->read_at(0, buf.span()));
    EXPECT_EQ(as_text(buf.span()), bytes);
}

TEST(LoopDevice, AClaimedDiskIsRefusedToEveryOtherClaimInAnyProcess) {
    test::TempDir dir;
    auto file = dir / "loop.img";
    make_file(file, 8 * MiB);
    Loop loop(file);
    if (!loop.ok()) GTEST_SKIP() << "no loop devices here";
    auto locker = platform::volume_locker();
    auto first = locker->claim(*loop.number());
    ASSERT_TRUE(first) << first.error().text;
    auto second = locker->claim(*loop.number());
    ASSERT_FALSE(second);
    EXPECT_TRUE(second.error().is(kInUse));
    // The lock is the one that tools rewriting a disk take: util-linux's
    // flock(1), in another process, finds the disk taken.
    EXPECT_EQ(shell("flock -n " + loop.node() + " echo free"), "");
    first->reset();
    EXPECT_EQ(shell("flock -n " + loop.node() + " echo free"), "free");
    EXPECT_TRUE(locker->claim(*loop.number()));
}

TEST(LoopDevice, ListedOpenedByNumberWrittenAndReadBack) {
    test::TempDir dir;
    auto file = dir / "loop.img";
    make_file(file, 32 * MiB);
    Loop loop(file);
    if (!loop.ok()) GTEST_SKIP() << "no loop devices here";
    auto number = loop.number();
    ASSERT_TRUE(number);

    auto drives = list_drives(test::dev_disks());
    ASSERT_TRUE(drives) << drives.error().text;
    const DeviceInfo* d = find(*drives, *number);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->bus, (BusKind{BusKind::Other, 15}));
    EXPECT_EQ(d->size, 32 * MiB);
    EXPECT_EQ(d->logical_sector, 512u);
    EXPECT_EQ(platform::disk_path(*number).value_or(""), loop.node());
    EXPECT_TRUE(identify_drive(test::dev_disks(), identity_of(*d)));

    auto device = test::dev_disks()->open_raw(
        *number, d->logical_sector, d->size,
        IoConfig{.no_buffering = true, .write_through = false, .depth = 4, .io_size = MiB});
    ASSERT_TRUE(device) << device.error().text;
    test::Aligned out(6 * MiB);
    out.fill(7);
    ASSERT_TRUE(device->write_at(MiB, out.span()));
    ASSERT_TRUE(device->flush());
    EXPECT_EQ(read_range(file, MiB, out.size()), as_text(out.span()));
    test::Aligned back(out.size());
    ASSERT_TRUE(device->read_at(MiB, back.span()));
    EXPECT_EQ(as_text(back.span()), as_text(out.span()));
    // A loop device is not write-protected.
    EXPECT_TRUE(device->query_writable(10000));
}

TEST(LoopDevice, ReadOnlyDeviceAnswersTheWritableQueryAsWriteProtected) {
    test::TempDir dir;
    auto file = dir / "ro.img";
    make_file(file, 4 * MiB);
    if (::geteuid() != 0) GTEST_SKIP() << "no loop devices here";
    std::string node = shell("losetup -r -f --show " + file.string());
    if (node.empty()) GTEST_SKIP() << "no loop devices here";
    std::ifstream seq("/sys/block/" + node.substr(5) + "/diskseq");
    uint32_t number = 0;
    seq >> number;
    test::FakeClock clock;
    auto device = test::dev_disks(clock)->open_raw(number, 512, 4 * MiB, health_check_config());
    if (device) {
        auto q = device->query_writable(10000);
        ASSERT_FALSE(q);
        EXPECT_TRUE(q.error().is(kWriteProtected)) << q.error().text;
        test::Aligned block(MiB);
        auto w = device->write_at(0, block.span());
        ASSERT_FALSE(w);
        EXPECT_TRUE(w.error().is(kWriteProtected) || w.error().is(kAccessDenied)) << w.error().text;
    } else {
        EXPECT_TRUE(device.error().is(kWriteProtected) || device.error().is(kAccessDenied))
            << device.error().text;
    }
    device = unexpected(OsError{});
    shell("losetup -d " + node);
}

TEST(LoopDevice, OpeningWithTheHealthCheckSettings) {
    test::TempDir dir;
    auto file = dir / "loop.img";
    make_file(file, 8 * MiB);
    Loop loop(file);
    if (!loop.ok()) GTEST_SKIP() << "no loop devices here";
    auto disks = test::dev_disks();
    auto device = disks->open_raw(*loop.number(), 512, 8 * MiB, health_check_config());
    ASSERT_TRUE(device) << device.error().text;
    EXPECT_EQ(device->config(), health_check_config());
    EXPECT_EQ(device->slots(), 1u);
    EXPECT_EQ(device->wait_ms(), 90000u);
    auto gone = disks->open_raw(3999999999u, 512, 8 * MiB, health_check_config());
    ASSERT_FALSE(gone);
    EXPECT_EQ(gone.error().text, os_error(ENODEV).text);
}

// An MBR with one Linux partition from 1 MiB to the end.
void write_mbr(const fs::path& file, uint64_t size) {
    std::string mbr(512, '\0');
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            mbr[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    mbr[446 + 4] = static_cast<char>(0x83);
    put32(446 + 8, 2048);
    put32(446 + 12, static_cast<uint32_t>(size / 512 - 2048));
    mbr[510] = static_cast<char>(0x55);
    mbr[511] = static_cast<char>(0xAA);
    std::fstream f(file, std::ios::binary | std::ios::in | std::ios::out);
    f.write(mbr.data(), 512);
}

TEST(LoopDevice, MountedVolumeIsLockedAwayAndTheDiskHeld) {
    test::TempDir dir;
    auto file = dir / "parted.img";
    make_file(file, 64 * MiB);
    write_mbr(file, 64 * MiB);
    Loop loop(file, true);
    if (!loop.ok()) GTEST_SKIP() << "no loop devices here";
    // A partition when the kernel reads partition tables, else the whole disk.
    // The kernel lists the partition at once; its node may follow a moment later.
    std::string part = loop.node() + "p1";
    if (fs::exists("/sys/class/block/" + loop.name() + "p1"))
        test::eventually([&] { return fs::exists(part); });
    if (!fs::exists(part)) part = loop.node();
    if (shell("mkfs.ext4 -q -F " + part + " && echo ok") != "ok")
        GTEST_SKIP() << "cannot make a file system on the loop partition";
    auto mnt = dir / "mnt";
    fs::create_directories(mnt);
    ASSERT_EQ(::mount(part.c_str(), mnt.c_str(), "ext4", 0, nullptr), 0);
    std::ofstream(mnt / "image.iso") << "iso";

    uint32_t number = *loop.number();
    auto volumes = test::dev_disks()->enumerate_volumes();
    ASSERT_TRUE(volumes);
    auto v = std::find_if(volumes->begin(), volumes->end(),
                          [&](const VolumeInfo& x) { return x.name == part; });
    ASSERT_NE(v, volumes->end());
    // The loop disk, and the disk its backing file lives on.
    ASSERT_EQ(v->disks.size(), 2u);
    EXPECT_EQ(v->disks.front(), number);
    EXPECT_EQ(v->mount_points, std::vector<std::string>{mnt.string()});

    // The image on the mounted volume lives on both.
    auto facts = gather_system_facts(test::dev_disks(), (mnt / "image.iso").string());
    EXPECT_EQ(facts.image, v->disks);

    // A file held open on it keeps it from being locked.
    {
        int busy = ::open((mnt / "image.iso").c_str(), O_RDONLY);
        test::FakeClock clock;
        auto refused = lock_and_dismount(test::dev_disks(clock), number, *volumes, nullptr);
        ::close(busy);
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().text,
                  fmt("umount2 failed on {}: {}", part, os_error(EBUSY).text));
        EXPECT_EQ(clock.sleeps().size(), 20u);
    }

    std::vector<std::string> steps;
    {
        auto locked = lock_and_dismount(
            test::dev_disks(), number, *volumes, [&](LockStep s, std::string_view label) {
                steps.push_back((s == LockStep::Locking ? "locking " : "dismounting ") +
                                std::string(label));
            });
        ASSERT_TRUE(locked) << locked.error().text;
        // Besides the partition, only volumes that may rest on this disk are
        // locked: on some machines a loop device whose backing file is out of
        // sight (another mount namespace, a deleted file) counts for every disk.
        std::vector<std::string> expected;
        for (const auto& other : *volumes)
            if (other.name == part ||
                (other.name != loop.node() &&
                 std::find(other.disks.begin(), other.disks.end(), number) != other.disks.end() &&
                 other.mount_points.empty()))
                for (const char* step : {"locking ", "dismounting "})
                    expected.push_back(step + other.name);
        EXPECT_EQ(steps, expected);
        EXPECT_NE(std::find(steps.begin(), steps.end(), "dismounting " + part), steps.end());
        EXPECT_FALSE(mounted(mnt));
        // The disk is held: nothing can mount its partition while the job runs.
        EXPECT_NE(::mount(part.c_str(), mnt.c_str(), "ext4", 0, nullptr), 0);
        EXPECT_EQ(errno, EBUSY);
    }
    // Released: it can be mounted again.
    ASSERT_EQ(::mount(part.c_str(), mnt.c_str(), "ext4", 0, nullptr), 0);
    ::umount(mnt.c_str());
}

TEST(SysfsTree, TheDisksOfAUsbDeviceAreTheOnesBelowIt) {
    // A card reader with two units, a disk on another port and one on ATA,
    // linked from block/ as the kernel does.
    test::TempDir dir;
    const fs::path usb = dir / "devices/usb2/2-1";
    const std::map<std::string, fs::path> disks{
        {"sdb", usb / "2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb"},
        {"sdc", usb / "2-1:1.0/host6/target6:0:0/6:0:0:1/block/sdc"},
        {"sdd", dir / "devices/usb2/2-10/2-10:1.0/host7/block/sdd"},
        {"sda", dir / "devices/pci0/ata1/host0/block/sda"},
    };
    fs::create_directories(dir / "block");
    for (const auto& [name, path] : disks) {
        fs::create_directories(path);
        fs::create_directory_symlink(fs::relative(path, dir / "block"), dir / "block" / name);
    }
    auto found = disks_below((dir / "block").string(), usb.string());
    ASSERT_TRUE(found) << found.error().text;
    EXPECT_EQ(*found, (std::vector<std::string>{"/dev/sdb", "/dev/sdc"}));
    EXPECT_FALSE(disks_below((dir / "block").string(), (dir / "devices/usb9").string()));
}

TEST(LoopDevice, AnExternalJournalOfAMountedFileSystemIsNotWritable) {
    test::TempDir dir;
    make_file(dir / "journal.img", 16 * MiB);
    make_file(dir / "fs.img", 32 * MiB);
    Loop journal(dir / "journal.img");
    Loop data(dir / "fs.img");
    if (!journal.ok() || !data.ok()) GTEST_SKIP() << "no loop devices here";
    if (shell("mke2fs -q -F -O journal_dev -b 4096 " + journal.node() +
              " >/dev/null && mkfs.ext4 -q -F -b 4096 -J device=" + journal.node() + " " +
              data.node() + " >/dev/null && echo ok") != "ok")

        GTEST_SKIP() << "cannot make an ext4 file system with an external journal";
    auto mnt = dir / "mnt";
    fs::create_directories(mnt);
    ASSERT_EQ(::mount(data.node().c_str(), mnt.c_str(), "ext4", 0, nullptr), 0);
    auto facts = gather_system_facts(test::dev_disks(), std::nullopt);
#ifdef ORTIVEX_SIMULATED_DRIVES
    // A simulated stick over the journal's device is held as well.
    std::optional<SystemFacts> simulated;
    {
        test::ScopedEnv env(std::string(kSimulatedDrivesVariable), journal.node());
        simulated = gather_system_facts(test::dev_disks(), std::nullopt);
    }
#endif
    ::umount(mnt.c_str());
    const uint32_t number = *journal.number();
    auto held = std::find_if(facts.held.begin(), facts.held.end(),
                             [&](const auto& h) { return h.first == number; });
    ASSERT_NE(held, facts.held.end()) << debug_string(facts);
    EXPECT_NE(held->second.find(journal.node() + " is in use by the system"), std::string::npos)
        << held->second;
    // The mounted file system's own disk is explained by its mount.
    EXPECT_TRUE(std::none_of(facts.held.begin(), facts.held.end(),
                             [&](const auto& h) { return h.first == *data.number(); }));
#ifdef ORTIVEX_SIMULATED_DRIVES
    EXPECT_TRUE(std::any_of(simulated->held.begin(), simulated->held.end(), [&](const auto& h) {
        return h.first == kFirstSimulatedNumber;
    })) << debug_string(*simulated);
#endif
}

TEST(LoopDevice, AFileOnBtrfsLiesOnEveryDeviceOfItsFileSystem) {
    // btrfs gives its files device numbers that the mount table never lists,
    // the top subvolume's as well as a nested one's; the file system spans
    // two devices here, mirrored.
    test::TempDir dir;
    make_file(dir / "a.img", 128 * MiB);
    make_file(dir / "b.img", 128 * MiB);
    Loop a(dir / "a.img");
    Loop b(dir / "b.img");
    if (!a.ok() || !b.ok()) GTEST_SKIP() << "no loop devices here";
    if (shell("mkfs.btrfs -q -f -d raid1 -m raid1 " + a.node() + " " + b.node() +
              " >/dev/null && echo ok") != "ok")
        GTEST_SKIP() << "cannot make a btrfs file system (btrfs-progs missing?)";
    auto mnt = dir / "mnt";
    fs::create_directories(mnt);
    if (::mount(a.node().c_str(), mnt.c_str(), "btrfs", 0, nullptr) != 0)
        GTEST_SKIP() << "this kernel cannot mount btrfs: " << os_error(errno).text;
    bool nested =
        shell("btrfs -q subvolume create " + (mnt / "sub").string() + " && echo ok") == "ok";
    std::ofstream(mnt / "top.iso") << "iso";
    if (nested) std::ofstream(mnt / "sub/image.iso") << "iso";

    auto top = gather_system_facts(test::dev_disks(), (mnt / "top.iso").string());
    std::optional<SystemFacts> inner;
    if (nested) inner = gather_system_facts(test::dev_disks(), (mnt / "sub/image.iso").string());
    ::umount(mnt.c_str());

    // Both mirrors, and the disk their backing files lie on, each once.
    auto on_both = [&](const DiskFact& fact) {
        if (!fact) return false;
        auto disks = *fact;
        std::sort(disks.begin(), disks.end());
        return std::adjacent_find(disks.begin(), disks.end()) == disks.end() &&
               std::binary_search(disks.begin(), disks.end(), *a.number()) &&
               std::binary_search(disks.begin(), disks.end(), *b.number());
    };
    EXPECT_TRUE(on_both(top.image)) << debug_string(top.image);
    if (!nested) GTEST_SKIP() << "no nested subvolume could be made";
    EXPECT_TRUE(on_both(inner->image)) << debug_string(inner->image);
}

TEST(LoopDevice, AForeignMountOverTheDrivesMountPointMeansInUseAndStays) {
    test::TempDir dir;
    auto file = dir / "disk.img";
    make_file(file, 32 * MiB);
    Loop loop(file);
    if (!loop.ok()) GTEST_SKIP() << "no loop devices here";
    if (shell("mkfs.ext4 -q -F " + loop.node() + " && echo ok") != "ok")
        GTEST_SKIP() << "cannot make a file system on the loop device";
    auto mnt = dir / "mnt";
    fs::create_directories(mnt);
    ASSERT_EQ(::mount(loop.node().c_str(), mnt.c_str(), "ext4", 0, nullptr), 0);
    fs::create_directories(mnt / "inner");
    // The drive mounted a second time inside itself, and a file system from
    // elsewhere over its first mount point.
    ASSERT_EQ(::mount(loop.node().c_str(), (mnt / "inner").c_str(), "ext4", 0, nullptr), 0);
    ASSERT_EQ(::mount("over", mnt.c_str(), "tmpfs", 0, "size=1m"), 0);
    std::ofstream(mnt / "marker") << "tmpfs";
    auto volumes = test::dev_disks()->enumerate_volumes();
    ASSERT_TRUE(volumes);
    const uint32_t number = *loop.number();
    {
        test::FakeClock clock;
        auto refused = lock_and_dismount(test::dev_disks(clock), number, *volumes, nullptr);
        ASSERT_FALSE(refused);
        EXPECT_TRUE(refused.error().is(kInUse));
        EXPECT_EQ(refused.error().text,
                  fmt("umount2 failed on {}: another file system is mounted over {} at {}",
                      loop.node(), loop.node(), mnt.string()));
    }
    // Nothing was unmounted: the tmpfs is still on top, the drive beneath.
    EXPECT_TRUE(fs::exists(mnt / "marker")) << "the foreign tmpfs was unmounted";
    ASSERT_EQ(::umount(mnt.c_str()), 0);
    EXPECT_TRUE(fs::exists(mnt / "inner")) << "the drive's own mount was taken away";

    // Without the foreign mount, both of the drive's mounts come off,
    // the inner one first.
    {
        auto locked = lock_and_dismount(test::dev_disks(), number, *volumes, nullptr);
        ASSERT_TRUE(locked) << locked.error().text;
        EXPECT_FALSE(mounted(mnt));
    }
    ::umount2((mnt / "inner").c_str(), MNT_DETACH);
    ::umount2(mnt.c_str(), MNT_DETACH);
}

#ifdef ORTIVEX_SIMULATED_DRIVES

class SimulatedOnLinux : public ::testing::Test {
  protected:
    // This test's simulated drives, remembering what they went through.
    std::shared_ptr<SimulatedStates> states = std::make_shared<SimulatedStates>();
    std::shared_ptr<DiskSystem> disks() { return test::dev_disks(real_clock(), states); }
    std::shared_ptr<DiskSystem> disks(Clock& clock) { return test::dev_disks(clock, states); }
    test::TempDir dir;
};

TEST_F(SimulatedOnLinux, ListedAsUsbAndWrittenThroughTheRealEngine) {
    auto file = dir / "stick.img";
    make_file(file, 8 * MiB);
    auto empty = dir / "empty.img";
    make_file(empty, 0);
    test::ScopedEnv env("ORTIVEX_SIMULATED_USB",
                        fmt("{},serial=STICK1,usb=super,error=5@4194304;{},serial=NONE",
                            file.string(), empty.string()));
    test::FakeClock clock;
    auto drives = list_drives(disks());
    ASSERT_TRUE(drives);
    const DeviceInfo* stick = find(*drives, 4000000000u);
    ASSERT_NE(stick, nullptr);
    EXPECT_EQ(stick->bus.kind, BusKind::Usb);
    EXPECT_EQ(stick->usb_speed, UsbSpeed::Super);
    EXPECT_EQ(stick->size, 8 * MiB);
    EXPECT_EQ(stick->serial, "STICK1");
    const DeviceInfo* none = find(*drives, 4000000001u);
    ASSERT_NE(none, nullptr);

    auto facts = gather_system_facts(disks(), std::nullopt);
    EXPECT_TRUE(refusals_for(*stick, facts, std::nullopt).empty())
        << debug_string(refusals_for(*stick, facts, std::nullopt));
    EXPECT_EQ(debug_string(refusals_for(*none, facts, std::nullopt)), "[NoMedia]");

    auto device = disks(clock)->open_raw(
        stick->number, 512, stick->size,
        IoConfig{.no_buffering = true, .write_through = false, .depth = 4, .io_size = MiB});
    ASSERT_TRUE(device) << device.error().text;
    test::Aligned out(4 * MiB);
    out.fill(3);
    ASSERT_TRUE(device->write_at(0, out.span()));
    EXPECT_EQ(read_range(file, 0, out.size()), as_text(out.span()));
    // The injected error keeps its errno and the system's text.
    auto bad = device->write_at(4 * MiB, out.span());
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().text, os_error(EIO).text);
}

TEST_F(SimulatedOnLinux, BackingFileThatIsTheImageContainsIt) {
    auto file = dir / "stick.img";
    make_file(file, 8 * MiB);
    test::ScopedEnv env("ORTIVEX_SIMULATED_USB", file.string());
    auto facts = gather_system_facts(disks(), file.string());
    auto drives = list_drives(disks());
    ASSERT_TRUE(drives);
    const DeviceInfo* stick = find(*drives, 4000000000u);
    ASSERT_NE(stick, nullptr);
    auto r = refusals_for(*stick, facts, std::nullopt);
    ASSERT_EQ(r.size(), 1u) << debug_string(r);
    EXPECT_EQ(r[0].kind, Refusal::ContainsImage);
}

TEST_F(SimulatedOnLinux, AViewOfTheBackingFileCountsForTheDrive) {
    auto file = dir / "stick.img";
    make_file(file, 32 * MiB);
    Loop loop(file);
    if (!loop.ok()) GTEST_SKIP() << "no loop devices here";
    if (shell("mkfs.ext4 -q -F " + loop.node() + " && echo ok") != "ok")
        GTEST_SKIP() << "cannot make a file system";
    auto mnt = dir / "mnt";
    fs::create_directories(mnt);
    ASSERT_EQ(::mount(loop.node().c_str(), mnt.c_str(), "ext4", 0, nullptr), 0);
    std::ofstream(mnt / "image.iso") << "iso";

    test::ScopedEnv env("ORTIVEX_SIMULATED_USB", file.string());
    auto volumes = disks()->enumerate_volumes();
    ASSERT_TRUE(volumes);
    auto v = std::find_if(volumes->begin(), volumes->end(),
                          [&](const VolumeInfo& x) { return x.name == loop.node(); });
    ASSERT_NE(v, volumes->end());
    // The loop device, the disk its backing file lives on, and the drive.
    ASSERT_EQ(v->disks.size(), 3u);
    EXPECT_EQ(v->disks.front(), *loop.number());
    EXPECT_EQ(v->disks.back(), 4000000000u);
    auto facts = gather_system_facts(disks(), (mnt / "image.iso").string());
    EXPECT_EQ(facts.image, v->disks);
    ::umount(mnt.c_str());
}

TEST_F(SimulatedOnLinux, ADriveThisRunCannotOpenForWritingIsNotWritable) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a read-only file system needs root";
    auto ro = dir / "ro";
    fs::create_directories(ro);
    ASSERT_EQ(::mount("ro", ro.c_str(), "tmpfs", 0, "size=8m"), 0);
    make_file(ro / "stick.img", 4 * MiB);
    ASSERT_EQ(::mount("ro", ro.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=8m"), 0);
    test::ScopedEnv env(std::string(kSimulatedDrivesVariable),
                        (ro / "stick.img").string() + ";" + (dir / "ok.img").string());
    make_file(dir / "ok.img", 4 * MiB);
    auto drives = list_drives(disks());
    auto facts = gather_system_facts(disks(), std::nullopt);
    ::umount(ro.c_str());
    ASSERT_TRUE(drives);
    const DeviceInfo* stick = find(*drives, kFirstSimulatedNumber);
    const DeviceInfo* writable = find(*drives, kFirstSimulatedNumber + 1);
    ASSERT_NE(stick, nullptr);
    ASSERT_NE(writable, nullptr);
    auto refusals = refusals_for(*stick, facts, std::nullopt);
    ASSERT_EQ(refusals.size(), 1u) << debug_string(refusals);
    EXPECT_EQ(refusals[0].kind, Refusal::Undetermined);
    EXPECT_EQ(refusals[0].text, (ro / "stick.img").string() +
                                    " cannot be opened for writing: " + os_error(EROFS).text);
    EXPECT_TRUE(refusals_for(*writable, facts, std::nullopt).empty());
}

TEST_F(SimulatedOnLinux, AFileBackedDriveHasNothingToLock) {
    auto file = dir / "stick.img";
    make_file(file, 4 * MiB);
    test::ScopedEnv env("ORTIVEX_SIMULATED_USB", file.string());
    auto volumes = disks()->enumerate_volumes();
    ASSERT_TRUE(volumes);
    auto locked = lock_and_dismount(disks(), 4000000000u, *volumes, nullptr);
    ASSERT_TRUE(locked) << locked.error().text;
    EXPECT_EQ(locked->size(), 0u);
}

TEST_F(SimulatedOnLinux, OneBackingFileIsClaimedOnceHoweverItIsNamed) {
    auto file = dir / "stick.img";
    make_file(file, 4 * MiB);
    // The same file twice, once through another spelling of its path, and
    // (as root) a loop device over it: three views of one drive.
    test::ScopedEnv env("ORTIVEX_SIMULATED_USB", fmt("{},serial=A;{},serial=B", file.string(),
                                                     (dir / "." / "stick.img").string()));
    Loop loop(file);
    auto locker = disks()->volume_locker();
    {
        auto first = locker->claim(4000000000u);
        ASSERT_TRUE(first) << first.error().text;
        auto twin = locker->claim(4000000001u);
        ASSERT_FALSE(twin);
        EXPECT_TRUE(twin.error().is(kInUse));
        if (loop.ok()) {
            auto view = locker->claim(*loop.number());
            ASSERT_FALSE(view);
            EXPECT_TRUE(view.error().is(kInUse));
        }
    }
    if (loop.ok()) {
        auto view = locker->claim(*loop.number());
        ASSERT_TRUE(view) << view.error().text;
        // The loop disk taken by a job: the drive it is a view of is taken too.
        auto sim = locker->claim(4000000000u);
        ASSERT_FALSE(sim);
        EXPECT_TRUE(sim.error().is(kInUse));
    }
    EXPECT_TRUE(locker->claim(4000000001u));
}

TEST_F(SimulatedOnLinux, MediaChangedIsRecoveredByReopeningTheBackingFile) {
    auto file = dir / "stick.img";
    make_file(file, 4 * MiB);
    test::ScopedEnv env("ORTIVEX_SIMULATED_USB", file.string() + ",media-changed=2");
    test::FakeClock clock;
    auto device = disks(clock)->open_raw(
        4000000000u, 512, 4 * MiB,
        IoConfig{.no_buffering = true, .write_through = false, .depth = 2, .io_size = MiB});
    ASSERT_TRUE(device) << device.error().text;
    test::Aligned out(2 * MiB);
    out.fill(9);
    ASSERT_TRUE(device->write_at(MiB, out.span()));
    EXPECT_EQ(clock.sleeps().size(), 2u);
    EXPECT_EQ(read_range(file, MiB, out.size()), as_text(out.span()));
}

#endif  // ORTIVEX_SIMULATED_DRIVES

}  // namespace
}  // namespace sw
