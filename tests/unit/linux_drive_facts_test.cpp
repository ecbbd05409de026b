// The Linux build's drive decisions against recorded sysfs and /proc answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "core/text.h"
#include "disk/disk_system.h"
#include "disk/drives.h"
#include "disk/linux_drive_facts.h"

namespace sw {
namespace {

using Disks = std::vector<uint32_t>;

// A recorded machine:
//   nvme0n1 (disk 1): p1 the EFI partition, p2 an LVM member -> dm-0 (root, ext4)
//   sda (disk 2, USB stick): sda1 mounted at /media/stick
//   md0: a mirror over sdb1 (disk 3) and sdc1 (disk 4), btrfs at /srv (anonymous device)
//   loop0 (disk 5) backed by /srv/images/disk.img, loop0p1 mounted at /mnt/img
//   zram0: swap
const char* kMountinfo =
    "21 1 253:0 / / rw,relatime shared:1 - ext4 /dev/mapper/vg-root rw\n"
    "22 21 259:1 / /boot/efi rw,relatime shared:2 - vfat /dev/nvme0n1p1 rw,fmask=0077\n"
    "23 21 0:22 / /proc rw,nosuid - proc proc rw\n"
    "24 21 0:5 / /dev/shm rw - tmpfs tmpfs rw\n"
    "25 21 8:1 / /media/my\\040stick rw,nosuid - vfat /dev/sda1 rw\n"
    "26 21 0:45 / /srv rw - btrfs /dev/md0 rw,space_cache=v2\n"
    "27 21 7:1 / /mnt/img rw - ext4 /dev/loop0p1 rw\n"
    "28 21 0:50 / /mnt/share rw - nfs4 server:/export rw\n"
    "29 21 0:51 / /var/lib/ctr rw - overlay overlay "
    "rw,lowerdir=/srv/l1:/usr/l2,upperdir=/srv/up,workdir=/srv/work\n"
    "30 21 0:52 / /mnt/fuse rw - fuse.mystery mystery rw\n"
    "bad line\n";

class RecordedLinux : public LinuxFactsSource {
  public:
    // path -> (block device?, major, minor)
    std::map<std::string, PathStat> files{
        {"/", {false, 253, 0}},
        {"/usr", {false, 253, 0}},
        {"/boot", {false, 253, 0}},
        {"/boot/efi", {false, 259, 1}},
        {"/usr/bin/ortivex", {false, 253, 0}},
        {"/media/my stick/x.iso", {false, 8, 1}},
        {"/srv/images/disk.img", {false, 0, 45}},
        {"/srv/l1", {false, 0, 45}},
        {"/srv/up", {false, 0, 45}},
        {"/srv/work", {false, 0, 45}},
        {"/usr/l2", {false, 253, 0}},
        {"/var/lib/ctr/f", {false, 0, 51}},
        {"/mnt/img/a.iso", {false, 7, 1}},
        {"/mnt/share/a.iso", {false, 0, 50}},
        {"/mnt/fuse/a.iso", {false, 0, 52}},
        {"/dev/shm/a.iso", {false, 0, 5}},
        {"/dev/md0", {true, 9, 0}},
        {"/dev/zram0", {true, 252, 0}},
        {"/dev/sda", {true, 8, 0}},
    };
    std::string mounts = kMountinfo;
    Result<std::string, OsError> swaps_text =
        std::string("Filename\tType\tSize\tUsed\tPriority\n/dev/zram0  partition 1 0 100\n");
    Result<std::string, OsError> exe = std::string("/usr/bin/ortivex");
    Result<std::vector<VolumeInfo>, OsError> volume_list;
    bool uefi = true;
    OsError denied = message_error("Permission denied (os error 13)", kAccessDenied);
    bool deny_stat = false;

    RecordedLinux() {
        volume_list = linux_volumes(nodes(), numbers(), parse_mountinfo(mounts), *this);
    }
    static std::vector<BlockNode> nodes() {
        return {
            {"nvme0n1", "259:0", {}, {}, {}, false},
            {"nvme0n1p1", "259:1", "nvme0n1", {}, {}, false},
            {"nvme0n1p2", "259:2", "nvme0n1", {}, {}, false},
            {"dm-0", "253:0", {}, {"nvme0n1p2"}, {}, false},
            {"sda", "8:0", {}, {}, {}, false},
            {"sda1", "8:1", "sda", {}, {}, false},
            {"sdb", "8:16", {}, {}, {}, false},
            {"sdb1", "8:17", "sdb", {}, {}, false},
            {"sdc", "8:32", {}, {}, {}, false},
            {"sdc1", "8:33", "sdc", {}, {}, false},
            {"md0", "9:0", {}, {"sdb1", "sdc1"}, {}, false},
            {"loop0", "7:0", {}, {}, std::string("/srv/images/disk.img"), false},
            {"loop0p1", "7:1", "loop0", {}, {}, false},
            {"zram0", "252:0", {}, {}, {}, true},
        };
    }
    static std::map<std::string, uint32_t> numbers() {
        return {{"nvme0n1", 1}, {"sda", 2}, {"sdb", 3}, {"sdc", 4}, {"loop0", 5}};
    }

    Result<PathStat, OsError> stat(const std::string& path) override {
        if (deny_stat) return unexpected(denied);
        auto it = files.find(path);
        if (it == files.end())
            return unexpected(message_error("No such file or directory (os error 2)", kNotFound));
        return it->second;
    }
    Result<std::vector<VolumeInfo>, OsError> volumes() { return volume_list; }
    Result<std::string, OsError> mountinfo() override { return mounts; }
    Result<std::string, OsError> swaps() override { return swaps_text; }
    Result<std::string, OsError> current_exe() override { return exe; }
    bool uefi_firmware() override { return uefi; }
    Result<std::vector<KernelClaim>, OsError> claim_list = std::vector<KernelClaim>{};
    Result<std::vector<KernelClaim>, OsError> claims() override { return claim_list; }
    // What /sys/fs/btrfs lists for the file system of a source.
    std::map<std::string, std::vector<std::string>> btrfs;
    Result<std::vector<std::string>, std::string> btrfs_devices(const MountEntry& m) override {
        auto it = btrfs.find(m.source);
        if (it == btrfs.end()) return LinuxFactsSource::btrfs_devices(m);
        return it->second;
    }
};

// The drive seam over recorded Linux answers; only what gathering the facts
// asks is answered.
class RecordedLinuxDisks final : public DiskSystemWrapper {
  public:
    explicit RecordedLinuxDisks(RecordedLinux& m) : DiskSystemWrapper(nullptr), m_(m) {}
    Result<std::vector<VolumeInfo>, OsError> enumerate_volumes() override { return m_.volumes(); }
    Result<SystemPlaces, std::string> system_places() override { return linux_system_places(m_); }
    DiskFact locate_path(const std::vector<VolumeInfo>& v, const std::string& path) override {
        return linux_disks_of_path(v, parse_mountinfo(m_.mounts), path, m_);
    }
    std::vector<uint32_t> disks_backed_by(const std::string&) override { return {}; }
    void add_held(std::vector<std::pair<uint32_t, std::string>>&) override {}

  private:
    RecordedLinux& m_;
};

SystemFacts gather_linux_facts(RecordedLinux& m, const std::optional<std::string>& image) {
    return gather_system_facts(std::make_shared<RecordedLinuxDisks>(m), image);
}

const VolumeInfo& volume(const std::vector<VolumeInfo>& vols, const std::string& name) {
    for (const auto& v : vols)
        if (v.name == name) return v;
    static VolumeInfo none;
    ADD_FAILURE() << name;
    return none;
}

TEST(LinuxSysfs, DisksOfTheDriveList) {
    EXPECT_TRUE(is_listed_disk("sda", false));
    EXPECT_TRUE(is_listed_disk("nvme0n1", false));
    EXPECT_TRUE(is_listed_disk("mmcblk0", false));
    EXPECT_TRUE(is_listed_disk("loop3", true));
    EXPECT_FALSE(is_listed_disk("loop3", false));
    for (auto name : {"ram0", "zram0", "dm-0", "md127", "sr0"})
        EXPECT_FALSE(is_listed_disk(name, true)) << name;
}

TEST(LinuxSysfs, BusFromTheDeviceAncestry) {
    EXPECT_EQ(bus_code_of_sysfs_path("/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/"
                                     "target6:0:0/6:0:0:0",
                                     ""),
              7u);
    EXPECT_EQ(bus_code_of_sysfs_path("/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/"
                                     "0:0:0:0",
                                     ""),
              11u);
    EXPECT_EQ(
        bus_code_of_sysfs_path("/sys/devices/pci0000:00/0000:00:1d.0/0000:03:00.0/nvme/nvme0", ""),
        17u);
    EXPECT_EQ(bus_code_of_sysfs_path("/sys/devices/platform/mmc0/mmc_host/mmc0/mmc0:aaaa", "SD"),
              12u);
    EXPECT_EQ(bus_code_of_sysfs_path("/sys/devices/platform/mmc0/mmc_host/mmc0/mmc0:0001", "MMC"),
              13u);
    EXPECT_EQ(bus_code_of_sysfs_path("/sys/devices/pci0000:00/0000:00:02.0/virtio1", ""), 14u);
    EXPECT_EQ(bus_code_of_sysfs_path("/sys/devices/virtual/block/loop0", ""), 15u);
    EXPECT_EQ(bus_code_of_sysfs_path(
                  "/sys/devices/pci0000:00/0000:00:10.0/host2/target2:0:0/2:0:0:0", ""),
              1u);
    EXPECT_EQ(bus_code_of_sysfs_path("/sys/devices/platform/foo", ""), 0u);
}

TEST(LinuxSysfs, UsbSpeedFromMegabits) {
    EXPECT_EQ(usb_speed_of_mbps("1.5\n"), UsbSpeed::Full);
    EXPECT_EQ(usb_speed_of_mbps("12"), UsbSpeed::Full);
    EXPECT_EQ(usb_speed_of_mbps("480"), UsbSpeed::High);
    EXPECT_EQ(usb_speed_of_mbps("5000"), UsbSpeed::Super);
    EXPECT_EQ(usb_speed_of_mbps("10000"), UsbSpeed::SuperPlus);
    EXPECT_EQ(usb_speed_of_mbps("20000"), UsbSpeed::SuperPlus);
    EXPECT_FALSE(usb_speed_of_mbps("unknown"));
}

TEST(LinuxMounts, MountinfoAndSwapsAreParsedWithEscapes) {
    auto mounts = parse_mountinfo(kMountinfo);
    ASSERT_EQ(mounts.size(), 10u);
    EXPECT_EQ(mounts[4].mount_point, "/media/my stick");
    EXPECT_EQ(mounts[4].major, 8u);
    EXPECT_EQ(mounts[4].minor, 1u);
    EXPECT_EQ(mounts[4].fs_type, "vfat");
    EXPECT_EQ(mounts[4].source, "/dev/sda1");
    auto swaps =
        parse_swap_areas("Filename Type Size Used Priority\n/swap\\040file file 10 0 -2\n\n");
    ASSERT_EQ(swaps.size(), 1u);
    EXPECT_EQ(swaps[0].path, "/swap file");
    EXPECT_EQ(swaps[0].type, "file");
    EXPECT_EQ(swaps[0].size_kib, 10u);
}

// The stick (8:1) mounted at /media/s, a bind of it inside at /media/s/in,
// and, in `over`, a tmpfs on top of /media/s.
std::vector<MountEntry> stick_mounts(bool over) {
    std::string text =
        "21 1 253:0 / / rw - ext4 /dev/mapper/vg-root rw\n"
        "40 21 8:1 / /media/s rw - vfat /dev/sda1 rw\n"
        "41 40 8:1 /d /media/s/in rw - vfat /dev/sda1 rw\n"
        "42 21 0:60 / /media/other rw - tmpfs tmpfs rw\n";
    if (over) text += "43 40 0:61 / /media/s rw - tmpfs tmpfs rw\n";
    return parse_mountinfo(text);
}

bool on_stick(const MountEntry& m) {
    return m.major == 8 && m.minor == 1;
}

TEST(LinuxMounts, TheDrivesMountsComeOffInnermostFirstByTheirIds) {
    auto mounts = stick_mounts(false);
    EXPECT_EQ(mounts[1].id, 40u);
    EXPECT_EQ(mounts[1].parent, 21u);
    auto plan = plan_unmounts(mounts, on_stick);
    EXPECT_FALSE(plan.foreign);
    ASSERT_EQ(plan.order.size(), 2u);
    EXPECT_EQ(plan.order[0].id, 41u);
    EXPECT_EQ(plan.order[1].id, 40u);
    // Listed in another order, the inner one still comes first.
    std::swap(mounts[1], mounts[2]);
    plan = plan_unmounts(mounts, on_stick);
    ASSERT_EQ(plan.order.size(), 2u);
    EXPECT_EQ(plan.order[0].id, 41u);
}

TEST(LinuxMounts, AForeignMountOnTheDrivesMountsIsInUse) {
    auto plan = plan_unmounts(stick_mounts(true), on_stick);
    EXPECT_EQ(plan.foreign, "/media/s");
    EXPECT_TRUE(plan.order.empty());
    // A file system mounted inside the drive's counts as well.
    auto inside = parse_mountinfo(
        "40 21 8:1 / /media/s rw - vfat /dev/sda1 rw\n"
        "50 40 0:61 / /media/s/tmp rw - tmpfs tmpfs rw\n");
    EXPECT_EQ(plan_unmounts(inside, on_stick).foreign, "/media/s/tmp");
    // A table whose parents loop is walked to its end.
    auto looped = parse_mountinfo(
        "60 61 0:70 / /a rw - tmpfs tmpfs rw\n"
        "61 60 0:71 / /b rw - tmpfs tmpfs rw\n");
    EXPECT_TRUE(plan_unmounts(looped, on_stick).order.empty());
}

TEST(LinuxMounts, TheTopMountAtAPointIsTheOneNothingThereCovers) {
    auto mounts = stick_mounts(true);
    ASSERT_NE(top_mount_at(mounts, "/media/s"), nullptr);
    EXPECT_EQ(top_mount_at(mounts, "/media/s")->id, 43u);
    // Listed first, the covering mount is still the top one.
    std::rotate(mounts.begin(), mounts.begin() + 4, mounts.end());
    EXPECT_EQ(top_mount_at(mounts, "/media/s")->id, 43u);
    EXPECT_EQ(top_mount_at(stick_mounts(false), "/media/s")->id, 40u);
    EXPECT_EQ(top_mount_at(mounts, "/media/none"), nullptr);
}

TEST(LinuxVolumes, StacksLeadToWholeDisks) {
    RecordedLinux m;
    const auto& vols = *m.volume_list;
    EXPECT_EQ(volume(vols, "/dev/nvme0n1p1").disks, Disks{1});
    EXPECT_EQ(volume(vols, "/dev/dm-0").disks, Disks{1});
    EXPECT_EQ(volume(vols, "/dev/md0").disks, (Disks{3, 4}));
    EXPECT_EQ(volume(vols, "/dev/sda1").mount_points, std::vector<std::string>{"/media/my stick"});
    // btrfs has an anonymous device number; its source names the md device.
    EXPECT_EQ(volume(vols, "/dev/md0").mount_points, std::vector<std::string>{"/srv"});
    // A loop device rests on itself and on the disks of its backing file.
    EXPECT_EQ(volume(vols, "/dev/loop0").disks, (Disks{5, 3, 4}));
    EXPECT_EQ(volume(vols, "/dev/loop0p1").disks, (Disks{5, 3, 4}));
    EXPECT_TRUE(volume(vols, "/dev/zram0").disks.empty());
}

TEST(LinuxVolumes, ALoopWhoseBackingCannotBeLocatedMayRestOnAnyDisk) {
    RecordedLinux m;
    m.files.erase("/srv/images/disk.img");
    auto vols = linux_volumes(m.nodes(), m.numbers(), parse_mountinfo(m.mounts), m);
    EXPECT_EQ(volume(vols, "/dev/loop0").disks.size(), 5u);
}

TEST(LinuxPaths, WhereFilesLive) {
    RecordedLinux m;
    auto mounts = parse_mountinfo(m.mounts);
    auto at = [&](const std::string& p) {
        return linux_disks_of_path(*m.volume_list, mounts, p, m);
    };
    EXPECT_EQ(at("/media/my stick/x.iso"), Disks{2});
    EXPECT_EQ(at("/mnt/img/a.iso"), (Disks{5, 3, 4}));
    EXPECT_EQ(at("/srv/images/disk.img"), (Disks{3, 4}));
    // Overlays rest on their layers' file systems.
    EXPECT_EQ(at("/var/lib/ctr/f"), (Disks{3, 4, 1}));  // each disk once
    // RAM and network file systems lie on no local disk; swap on zram neither.
    EXPECT_EQ(at("/dev/shm/a.iso"), Disks{});
    EXPECT_EQ(at("/mnt/share/a.iso"), Disks{});
    EXPECT_EQ(at("/dev/zram0"), Disks{});
    // A block device node names the device itself.
    EXPECT_EQ(at("/dev/sda"), Disks{2});
    // What cannot be told is a reason.
    EXPECT_EQ(at("/mnt/fuse/a.iso").error(),
              "volume of /mnt/fuse/a.iso: fuse.mystery file system from mystery lies on no known "
              "block device");
    EXPECT_EQ(at("/nowhere").error(), "volume of /nowhere: No such file or directory (os error 2)");
    m.files["/odd"] = PathStat{false, 0, 99};
    EXPECT_EQ(at("/odd").error(), "volume of /odd: no mount of device 0:99 in the mount table");
    m.files["/dev/sdz"] = PathStat{true, 8, 240};
    EXPECT_EQ(at("/dev/sdz").error(), "volume 8:240 of /dev/sdz not found");
}

TEST(LinuxFacts, OrdinaryMachine) {
    RecordedLinux m;
    auto f = gather_linux_facts(m, std::string("/media/my stick/x.iso"));
    EXPECT_EQ(debug_string(f),
              "SystemFacts { windows: Ok([1]), system_drive: Ok([1]), boot_partition: Ok([1]), "
              "pagefile: Ok([]), executable: Ok([1]), image: Ok([2]) }");
    DeviceInfo stick;
    stick.number = 2;
    stick.bus = BusKind{BusKind::Usb, 0};
    stick.size = 1 << 30;
    EXPECT_EQ(debug_string(refusals_for(stick, f, std::nullopt)), "[ContainsImage]");
}

TEST(LinuxFacts, BootAndEfiFallbacks) {
    RecordedLinux m;
    m.files.erase("/boot");
    m.mounts = m.mounts.substr(0, m.mounts.find("22 21"));  // only the root mount
    auto f = gather_linux_facts(m, std::nullopt);
    EXPECT_EQ(f.boot_volume, Disks{1});  // no /boot: the kernel lives with the root
    EXPECT_EQ(f.boot_partition.error(),
              "boot partition EFI system partition not found among volumes");
    m.uefi = false;  // a BIOS machine has no EFI system partition
    EXPECT_EQ(gather_linux_facts(m, std::nullopt).boot_partition, Disks{});
}

TEST(LinuxFacts, SwapAreas) {
    RecordedLinux m;
    m.swaps_text = std::string("Filename Type\n/dev/zram0 partition\n/dev/sda partition\n");
    EXPECT_EQ(gather_linux_facts(m, std::nullopt).swap, Disks{2});
    m.swaps_text = std::string("Filename Type\n/dev/sda partition\n/swapfile\\040(deleted) file\n");
    EXPECT_EQ(gather_linux_facts(m, std::nullopt).swap.error(),
              "volume of /swapfile (deleted): No such file or directory (os error 2)");
    m.swaps_text = unexpected(m.denied);
    EXPECT_EQ(gather_linux_facts(m, std::nullopt).swap.error(),
              "/proc/swaps: Permission denied (os error 13)");
}

TEST(LinuxFacts, NothingReadableMeansNothingIsSafe) {
    RecordedLinux m;
    m.deny_stat = true;
    m.exe = unexpected(m.denied);
    m.swaps_text = unexpected(m.denied);
    auto f = gather_linux_facts(m, std::string("/media/my stick/x.iso"));
    DeviceInfo stick;
    stick.number = 2;
    stick.bus = BusKind{BusKind::Usb, 0};
    stick.size = 1 << 30;
    auto r = refusals_for(stick, f, std::nullopt);
    ASSERT_EQ(r.size(), 6u);
    for (const auto& refusal : r)
        EXPECT_EQ(refusal.kind, Refusal::Undetermined) << debug_string(refusal);

    RecordedLinux no_mounts;
    no_mounts.volume_list = unexpected(no_mounts.denied);
    auto g = gather_linux_facts(no_mounts, std::nullopt);
    EXPECT_EQ(g.image.error(), "volume enumeration failed: Permission denied (os error 13)");
}

OsError busy() {
    return message_error("Device or resource busy (os error 16)", kInUse);
}

TEST(LinuxFacts, ADiskTheKernelHoldsForSomethingUnaccountedIsUndetermined) {
    RecordedLinux m;
    m.claim_list = std::vector<KernelClaim>{
        // The stick's mounted partition: its own mount explains the refusal.
        {"sda1", "8:1", 2, {}, busy()},
        // md0 (at /srv, no system file system) holds both of its members.
        {"sdb1", "8:17", 3, {"md0"}, busy()},
        // Claimed by nothing the facts know: an external journal, say.
        {"sdc1", "8:33", 4, {}, busy()},
        // The system disk's partitions are refused anyway.
        {"nvme0n1p2", "259:2", 1, {"dm-0"}, busy()},
    };
    auto f = gather_linux_facts(m, std::nullopt);
    ASSERT_EQ(f.held.size(), 2u) << debug_string(f);
    EXPECT_EQ(f.held[0], (std::pair<uint32_t, std::string>{3, "/dev/sdb1 is held by md0"}));
    EXPECT_EQ(f.held[1].first, 4u);
    EXPECT_EQ(f.held[1].second,
              "/dev/sdc1 is in use by the system although nothing of it is mounted (Device or "
              "resource busy (os error 16))");
    DeviceInfo stick;
    stick.number = 4;
    stick.bus = BusKind{BusKind::Usb, 0};
    stick.size = 1 << 30;
    EXPECT_EQ(debug_string(refusals_for(stick, f, std::nullopt)),
              "[Undetermined(\"" + f.held[1].second + "\")]");
    stick.number = 2;
    EXPECT_TRUE(refusals_for(stick, f, std::nullopt).empty());

    // An exclusive open that cannot be tried, or claims that cannot be read,
    // are no answer either.
    m.claim_list = std::vector<KernelClaim>{
        {"sda1", "8:1", 2, {}, message_error("Permission denied (os error 13)", kAccessDenied)}};
    EXPECT_EQ(
        gather_linux_facts(m, std::nullopt).held,
        (std::vector<std::pair<uint32_t, std::string>>{
            {2, "/dev/sda1 cannot be checked for holders: Permission denied (os error 13)"}}));
    m.claim_list = unexpected(m.denied);
    auto unknown = gather_linux_facts(m, std::nullopt);
    EXPECT_TRUE(std::any_of(unknown.held.begin(), unknown.held.end(),
                            [](const auto& h) { return h.first == 2; }));
}

TEST(LinuxVolumes, AStackDeeperThanTheLimitIsUndeterminedNotEmpty) {
    RecordedLinux m;
    // dm-0 (the root) on dm-s1 on ... on dm-s9 on sda1.
    auto nodes = RecordedLinux::nodes();
    nodes[3].slaves = {"dm-s1"};
    for (int i = 1; i <= 9; ++i)
        nodes.push_back({fmt("dm-s{}", i),
                         fmt("253:{}", i),
                         {},
                         {i == 9 ? std::string("sda1") : fmt("dm-s{}", i + 1)},
                         {},
                         false});
    m.volume_list = linux_volumes(nodes, RecordedLinux::numbers(), parse_mountinfo(m.mounts), m);
    const auto& root = volume(*m.volume_list, "/dev/dm-0");
    ASSERT_TRUE(root.unresolved);
    EXPECT_EQ(*root.unresolved, "/dev/dm-s9 is stacked more than 8 devices deep");
    auto f = gather_linux_facts(m, std::nullopt);
    EXPECT_EQ(f.system_volume.error(),
              "volume /dev/dm-0 of /: /dev/dm-s9 is stacked more than 8 devices deep");
    // Within the limit the stack is followed to the stick.
    nodes = RecordedLinux::nodes();
    nodes[3].slaves = {"dm-s1"};
    for (int i = 1; i <= 6; ++i)
        nodes.push_back({fmt("dm-s{}", i),
                         fmt("253:{}", i),
                         {},
                         {i == 6 ? std::string("sda1") : fmt("dm-s{}", i + 1)},
                         {},
                         false});
    auto vols = linux_volumes(nodes, RecordedLinux::numbers(), parse_mountinfo(m.mounts), m);
    EXPECT_FALSE(volume(vols, "/dev/dm-0").unresolved);
    EXPECT_EQ(volume(vols, "/dev/dm-0").disks, Disks{2});
}

TEST(LinuxFacts, ASwapFileMountedOverIsUndetermined) {
    RecordedLinux m;
    m.swaps_text = std::string("Filename Type Size Used Priority\n/swap.img file 1048572 0 -2\n");
    m.files["/swap.img"] = PathStat{false, 253, 0, true, 1u << 30};
    EXPECT_EQ(gather_linux_facts(m, std::nullopt).swap, Disks{1});
    // Another file is at that path now: on a RAM file system, or too small.
    const std::string hidden =
        "swap file /swap.img: the file at that path is not the swap area (mounted over?)";
    m.files["/swap.img"] = PathStat{false, 0, 5, true, 1u << 30};
    EXPECT_EQ(gather_linux_facts(m, std::nullopt).swap.error(), hidden);
    m.files["/swap.img"] = PathStat{false, 253, 0, true, 4096};
    EXPECT_EQ(gather_linux_facts(m, std::nullopt).swap.error(), hidden);
    m.files["/swap.img"] = PathStat{false, 253, 0, false, 0};
    EXPECT_EQ(gather_linux_facts(m, std::nullopt).swap.error(), hidden);
}

TEST(LinuxPaths, OnlyAFuseSshfsThatNamesAHostIsOnNoDisk) {
    RecordedLinux m;
    m.mounts +=
        "31 21 0:53 / /mnt/ssh rw - fuse.sshfs me@host:/srv rw\n"
        "32 21 0:54 / /mnt/fake rw - fuse.sshfs /dev/sda1 rw\n"
        "33 21 0:55 / /mnt/nfs rw - fuse.nfs4 server:/export rw\n";
    m.files["/mnt/ssh/a.iso"] = PathStat{false, 0, 53};
    m.files["/mnt/fake/a.iso"] = PathStat{false, 0, 54};
    m.files["/mnt/nfs/a.iso"] = PathStat{false, 0, 55};
    auto mounts = parse_mountinfo(m.mounts);
    auto at = [&](const std::string& p) {
        return linux_disks_of_path(*m.volume_list, mounts, p, m);
    };
    EXPECT_EQ(at("/mnt/ssh/a.iso"), Disks{});
    EXPECT_FALSE(at("/mnt/fake/a.iso"));
    EXPECT_FALSE(at("/mnt/nfs/a.iso"));
}

TEST(LinuxPaths, AFileInABtrfsSubvolumeLiesOnTheFileSystemsDevices) {
    RecordedLinux m;
    // A subvolume's files have a device number the mount table does not list.
    m.files["/srv/vol/a.iso"] = PathStat{false, 0, 46};
    m.files["/elsewhere/a.iso"] = PathStat{false, 0, 47};
    auto mounts = parse_mountinfo(m.mounts);
    auto at = [&](const std::string& p) {
        return linux_disks_of_path(*m.volume_list, mounts, p, m);
    };
    EXPECT_EQ(
        at("/srv/vol/a.iso").error(),
        "volume of /srv/vol/a.iso: the devices of the btrfs file system at /srv are not known");
    m.btrfs["/dev/md0"] = {"9:0"};
    EXPECT_EQ(at("/srv/vol/a.iso"), (Disks{3, 4}));
    // Below a file system that is not btrfs it stays unknown.
    EXPECT_EQ(at("/elsewhere/a.iso").error(),
              "volume of /elsewhere/a.iso: no mount of device 0:47 in the mount table");
}

}  // namespace
}  // namespace sw
