// The Linux adapters of the drive check and of eject for real: the file test
// on a real file system, a simulated stick whose file is mounted through a
// loop device (the file test on its FAT file system, then the raw tests), and
// eject's exclusive hold and layout refresh on a loop device. Loop device
// tests need root, losetup and mkfs.vfat; they skip otherwise.
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "linux/loop_device.h"
#include "core/text.h"
#include "disk/drives.h"
#include "disk/health.h"
#include "disk/health_check.h"
#include "disk/platform_health.h"
#include "support/machine.h"
#include "support/temp_dir.h"

#ifdef ORTIVEX_SIMULATED_DRIVES
#include "disk/simulated/simulated.h"
#endif

namespace sw {
namespace {

namespace fs = std::filesystem;
using test::Loop;
using test::shell;

// A file system ("vfat" or "ext4") in a file, mounted through a loop
// device; unmounted and detached at the end. Not every kernel has vfat.
class MountedFs {
  public:
    MountedFs(const fs::path& file, const fs::path& point, const std::string& type = "vfat")
        : point_(point) {
        std::ofstream(file, std::ios::binary).close();
        fs::resize_file(file, 32 << 20);
        std::string mkfs = type == "vfat" ? "mkfs.vfat " : "mkfs.ext4 -q -F ";
        if (shell(mkfs + file.string() + " >/dev/null && echo ok") != "ok") return;
        loop_.emplace(file, true);
        if (!loop_->ok()) return;
        fs::create_directories(point);
        mounted_ = ::mount(loop_->node().c_str(), point.c_str(), type.c_str(), 0, nullptr) == 0;
    }
    ~MountedFs() {
        if (mounted_) ::umount2(point_.c_str(), MNT_DETACH);
    }
    bool ok() const { return mounted_; }
    const Loop& loop() const { return *loop_; }

  private:
    fs::path point_;
    std::optional<Loop> loop_;
    bool mounted_ = false;
};

bool is_mounted(const fs::path& point) {
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line))
        if (line.find(" " + point.string() + " ") != std::string::npos) return true;
    return false;
}

TEST(LinuxFileTest, WritesAndDeletesItsFile) {
    test::TempDir dir;
    auto ops = platform::file_ops();
    auto path = (dir / "ortivex-write-test.tmp").string();
    ASSERT_TRUE(run_file_test(*ops, path));
    EXPECT_FALSE(fs::exists(path));

    auto missing = run_file_test(*ops, (dir / "no" / "ortivex-write-test.tmp").string());
    ASSERT_FALSE(missing);
    EXPECT_TRUE(missing.error().is(kNotFound));
}

TEST(LinuxFileTest, NeverFollowsALinkOffTheDrive) {
    test::TempDir dir;
    auto victim = dir / "precious.txt";
    test::write_file(victim, "keep me");
    fs::create_symlink(victim, dir / "ortivex-write-test.tmp");
    auto ops = platform::file_ops();
    EXPECT_FALSE(run_file_test(*ops, (dir / "ortivex-write-test.tmp").string()));
    EXPECT_EQ(test::read_file(victim), "keep me");
}

TEST(LinuxEjectAdapter, LayoutRefreshOfAMissingDisk) {
    auto system = platform::eject_system(platform_disk_system(real_clock()));
    EXPECT_EQ(system->refresh_name(), "BLKRRPART");
    EXPECT_FALSE(system->refresh_layout(3999999999u));
}

TEST(LinuxEjectAdapter, MountedDiskIsRefusedAnIdleOneIsHeldAndFlushed) {
    test::TempDir dir;
    MountedFs fat(dir / "disk.img", dir / "mnt", "ext4");
    if (!fat.ok()) GTEST_SKIP() << "no loop devices here";
    auto number = fat.loop().number();
    ASSERT_TRUE(number);
    auto drives = test::dev_disks()->enumerate_disks();
    ASSERT_TRUE(drives);
    auto it = std::find_if(drives->begin(), drives->end(),
                           [&](const DeviceInfo& d) { return d.number == *number; });
    ASSERT_NE(it, drives->end());

    auto system = platform::eject_system(platform_disk_system(real_clock()));
    // A loop device hangs on no USB device: its own node is the target.
    EXPECT_FALSE(system->parent_of(*it));
    EjectTarget own = system->own_node(*it);
    auto refused = system->request_eject(*it, own);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(),
              fmt("{} is in use (mounted at {})", fat.loop().node(), (dir / "mnt").string()));

    ASSERT_EQ(::umount2((dir / "mnt").c_str(), 0), 0);
    // Held and flushed; a loop device has no device to remove, so it stays.
    auto idle = system->request_eject(*it, own);
    ASSERT_FALSE(idle);
    EXPECT_TRUE(idle.error().find("cannot be ejected") != std::string::npos) << idle.error();
    EXPECT_TRUE(system->refresh_layout(*number));
}

#ifdef ORTIVEX_SIMULATED_DRIVES

// The file test on a FAT file system of the stick, where the kernel has vfat.
void fat_stick_is_file_tested() {
    test::TempDir dir;
    auto file = dir / "stick.img";
    auto mnt = dir / "mnt";
    MountedFs fat(file, mnt);
    if (!fat.ok()) {
        std::printf("note: no vfat in this kernel; the file test on FAT is not run\n");
        return;
    }
    test::ScopedEnv env("ORTIVEX_SIMULATED_USB", file.string() + ",serial=FATSTICK");
    auto drives = list_drives(test::dev_disks());
    ASSERT_TRUE(drives);
    auto stick = std::find_if(drives->begin(), drives->end(),
                              [](const DeviceInfo& d) { return d.serial == "FATSTICK"; });
    ASSERT_NE(stick, drives->end());

    // The loop device is a view of the stick's file, so its file system is
    // the stick's.
    auto targets = test::dev_disks()->file_test_targets(*stick);
    ASSERT_EQ(targets.size(), 1u);
    EXPECT_EQ(targets[0].root, mnt.string());
    EXPECT_EQ(platform::file_system_name(targets[0]), "vfat");

    HealthReport report = check_health(test::dev_disks(), *stick);
    EXPECT_EQ(report.file_write.kind, Verdict::Pass) << debug_string(report);
    EXPECT_TRUE(is_healthy(report)) << debug_string(report);
    // Its file system was taken away for the raw tests, as for a write.
    EXPECT_FALSE(is_mounted(mnt));
    // The test file did not stay behind.
    ASSERT_EQ(::mount(fat.loop().node().c_str(), mnt.c_str(), "vfat", 0, nullptr), 0);
    EXPECT_FALSE(fs::exists(mnt / "ortivex-write-test.tmp"));
}

TEST(LinuxHealthCheck, ADriveThatAJobHoldsIsNotTouched) {
    test::TempDir dir;
    auto file = dir / "stick.img";
    std::ofstream(file, std::ios::binary).close();
    fs::resize_file(file, 8 << 20);
    test::ScopedEnv env("ORTIVEX_SIMULATED_USB", file.string() + ",serial=HELD");
    auto drives = list_drives(test::dev_disks());
    ASSERT_TRUE(drives);
    auto stick = std::find_if(drives->begin(), drives->end(),
                              [](const DeviceInfo& d) { return d.serial == "HELD"; });
    ASSERT_NE(stick, drives->end());
    {
        // What a write job takes first.
        auto claim = test::dev_disks()->volume_locker()->claim(stick->number);
        ASSERT_TRUE(claim) << claim.error().text;
        HealthReport report = check_health(test::dev_disks(), *stick);
        EXPECT_EQ(report.error, "drive in use: another write or drive check holds disk 4000000000");
        EXPECT_EQ(report.read.kind, Verdict::Skipped);
        EXPECT_EQ(report.write.kind, Verdict::Skipped);
    }
    EXPECT_TRUE(is_healthy(check_health(test::dev_disks(), *stick)));
}

TEST(LinuxHealthCheck, MountedStickFileSystems) {
    test::TempDir dir;
    auto file = dir / "stick.img";
    auto mnt = dir / "mnt";
    MountedFs ext4(file, mnt, "ext4");
    if (!ext4.ok()) GTEST_SKIP() << "no loop devices here";
    test::ScopedEnv env("ORTIVEX_SIMULATED_USB", file.string() + ",serial=EXTSTICK");
    auto drives = list_drives(test::dev_disks());
    ASSERT_TRUE(drives);
    auto stick = std::find_if(drives->begin(), drives->end(),
                              [](const DeviceInfo& d) { return d.serial == "EXTSTICK"; });
    ASSERT_NE(stick, drives->end());
    auto targets = test::dev_disks()->file_test_targets(*stick);
    ASSERT_EQ(targets.size(), 1u);
    EXPECT_EQ(targets[0].root, mnt.string());
    EXPECT_EQ(platform::file_system_name(targets[0]), "ext4");

    ASSERT_EQ(::mount(nullptr, mnt.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    EXPECT_EQ(platform::file_system_name(targets[0]), std::nullopt);
    ASSERT_EQ(::mount(nullptr, mnt.c_str(), nullptr, MS_REMOUNT, nullptr), 0);

    // A file system the test does not trust: Skipped, and the stick is
    // healthy; its file system was taken away for the raw tests.
    HealthReport report = check_health(test::dev_disks(), *stick);
    EXPECT_EQ(report.file_write.kind, Verdict::Skipped) << debug_string(report);
    EXPECT_TRUE(is_healthy(report)) << debug_string(report);
    EXPECT_FALSE(is_mounted(mnt));

    fat_stick_is_file_tested();
}

#endif  // ORTIVEX_SIMULATED_DRIVES

}  // namespace
}  // namespace sw
