// The formatter judged by independent implementations: fsck.fat and
// fsck.exfat find nothing to complain about, fatlabel, exfatlabel, dump.exfat,
// blkid and sfdisk read the expected label, size and partition, files go in
// and come back byte for byte (through the kernel when it has the driver,
// otherwise mtools for FAT32 and the exFAT FUSE driver), and the free space
// is within 1 % of what mkfs.fat or mkfs.exfat leave on the same size.
// Built for Linux only.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>

#include "format/format.h"
#include "support/format_image.h"
#include "support/temp_dir.h"

namespace {

using format::FileSystem;
using format::Layout;
using sw::test::TempDir;

using sw::test::GiB;
using sw::test::MiB;
using sw::test::smallest_accepted;
using sw::test::TiB;

struct Ran {
    int status = -1;
    std::string out;  // standard output and error together
};

Ran run(const std::string& command) {
    Ran r;
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (p == nullptr) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
    int raw = ::pclose(p);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return r;
}

std::string q(const std::filesystem::path& p) {
    return "'" + p.string() + "'";
}

// The first number after `key` in a tool's output.
uint64_t number_after(const std::string& text, const std::string& key) {
    auto at = text.find(key);
    if (at == std::string::npos) return 0;
    std::istringstream in(text.substr(at + key.size()));
    uint64_t v = 0;
    in >> v;
    return v;
}

std::string random_bytes(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(gen());
    return s;
}

// Old contents a used drive would have: a pattern over the volume's first
// 8 MiB, where boot sectors, FATs and directories sit.
void scribble(const std::filesystem::path& file, uint64_t size) {
    std::fstream f(file, std::ios::binary | std::ios::in | std::ios::out);
    std::string junk = random_bytes(std::min<uint64_t>(size, 8 * MiB), 99);
    f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
}

// FAT32's free clusters by fsck.fat's summary ("N files, used/total clusters").
struct FatCount {
    uint64_t files = 0, used = 0, total = 0;
};
// `strict`: the output holds nothing but the version and the summary.
FatCount fsck_fat_clean(const std::filesystem::path& volume, bool strict = true) {
    Ran r = run("fsck.fat -n " + q(volume));
    EXPECT_EQ(r.status, 0) << r.out;
    std::smatch m;
    std::regex summary(R"(: (\d+) files, (\d+)/(\d+) clusters\n$)");
    EXPECT_TRUE(std::regex_search(r.out, m, summary)) << r.out;
    if (strict) {
        std::regex only(R"(^fsck\.fat [^\n]*\n[^\n]*: \d+ files, \d+/\d+ clusters\n$)");
        EXPECT_TRUE(std::regex_match(r.out, only)) << "anything else is a complaint:\n" << r.out;
    }
    if (m.size() != 4) return {};
    return {std::stoull(m[1]), std::stoull(m[2]), std::stoull(m[3])};
}

void fsck_exfat_clean(const std::filesystem::path& volume, int files) {
    Ran r = run("fsck.exfat -n " + q(volume));
    EXPECT_EQ(r.status, 0) << r.out;
    std::regex summary(
        R"(^exfatprogs version : [^\n]*\n[^\n]*: clean\. directories 1, files (\d+)\n?$)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(r.out, m, summary)) << "anything else is a complaint:\n" << r.out;
    EXPECT_EQ(std::stoi(m[1]), files);
}

// Free bytes of an exFAT volume, and its geometry, as dump.exfat reads them.
struct ExFatDump {
    uint64_t free_bytes = 0, clusters = 0, cluster_bytes = 0, volume_sectors = 0;
};
ExFatDump dump_exfat(const std::filesystem::path& volume) {
    Ran r = run("dump.exfat " + q(volume));
    EXPECT_EQ(r.status, 0) << r.out;
    ExFatDump d;
    d.cluster_bytes = number_after(r.out, "Cluster size:");
    d.clusters = number_after(r.out, "Total Clusters:");
    d.free_bytes = number_after(r.out, "Free Clusters:") * d.cluster_bytes;
    d.volume_sectors = number_after(r.out, "Volume Length(sectors):");
    return d;
}

// A directory the volume is mounted on while it lives: the kernel's driver
// when there is one and we may mount, else the FUSE driver (exFAT); for
// FAT32 without the kernel, files go through mtools instead (not mounted).
class Mounted {
  public:
    Mounted(const std::filesystem::path& volume, FileSystem fs, const std::filesystem::path& dir)
        : dir_(dir) {
        std::filesystem::create_directories(dir);
        if (::geteuid() == 0) {
            Ran l = run("losetup -f --show " + q(volume));
            if (l.status != 0) return;
            loop_ = l.out.substr(0, l.out.find('\n'));
            const char* type = fs == FileSystem::Fat32 ? "vfat" : "exfat";
            if (run("mount -t " + std::string(type) + " " + loop_ + " " + q(dir)).status == 0)
                mounted_ = true;
            else if (fs == FileSystem::ExFat)
                mounted_ = run("mount.exfat-fuse " + loop_ + " " + q(dir)).status == 0;
        } else if (fs == FileSystem::ExFat) {
            mounted_ = run("mount.exfat-fuse " + q(volume) + " " + q(dir)).status == 0;
            fuse_user_ = true;
        }
    }
    ~Mounted() {
        if (mounted_) run((fuse_user_ ? "fusermount -u " : "umount ") + q(dir_));
        if (!loop_.empty()) run("losetup -d " + loop_);
    }
    bool ok() const { return mounted_; }

  private:
    std::filesystem::path dir_;
    std::string loop_;
    bool mounted_ = false;
    bool fuse_user_ = false;
};

struct Case {
    uint64_t drive;  // 0: the smallest drive the formatter accepts
    uint32_t sector;
};

class FormatTools : public ::testing::TestWithParam<Case> {};

TEST_P(FormatTools, IndependentToolsAcceptTheVolumeAndItsFiles) {
    const Case c = GetParam();
    const uint64_t drive = c.drive != 0 ? c.drive : smallest_accepted(c.sector);
    auto laid = format::lay_out(drive, c.sector, 0x5EED1234);
    ASSERT_TRUE(laid) << format::describe(laid.error());
    const Layout& layout = *laid;
    TempDir dir;
    const auto volume = dir / "volume.img";
    sw::test::make_file(volume, layout.partition_bytes);
    scribble(volume, layout.partition_bytes);
    ASSERT_TRUE(
        sw::test::write_layout(layout, volume, layout.partition_offset, layout.partition_bytes));
    ASSERT_EQ(std::filesystem::file_size(volume), layout.partition_bytes);
    const bool fat = layout.fs == FileSystem::Fat32;

    // Clean, with the expected label and size, and as much room as mkfs leaves.
    uint64_t free_bytes = 0;
    const auto reference = dir / "reference.img";
    sw::test::make_file(reference, layout.partition_bytes);
    uint64_t reference_free = 0;
    if (fat) {
        FatCount ours = fsck_fat_clean(volume);
        EXPECT_EQ(ours.files, 1u);  // the volume label
        EXPECT_EQ(ours.used, 1u);   // the root directory
        EXPECT_EQ(ours.total, layout.cluster_count);
        EXPECT_EQ(run("fatlabel " + q(volume)).out, "USB DRIVE\n");
        free_bytes = (ours.total - ours.used) * layout.cluster_bytes;
        // mkfs.fat with the same sector and cluster size: the comparison is
        // of the layout's overhead, not of its cluster choice.
        Ran mk = run("mkfs.fat -F 32 -S " + std::to_string(c.sector) + " -s " +
                     std::to_string(layout.cluster_bytes / c.sector) + " " + q(reference));
        ASSERT_EQ(mk.status, 0) << mk.out;
        FatCount theirs = fsck_fat_clean(reference, false);
        reference_free = (theirs.total - theirs.used) * layout.cluster_bytes;
    } else {
        fsck_exfat_clean(volume, 0);
        EXPECT_EQ(
            run("exfatlabel " + q(volume)).out.find("label: USB DRIVE\n") != std::string::npos,
            true);
        ExFatDump ours = dump_exfat(volume);
        EXPECT_EQ(ours.clusters, layout.cluster_count);
        EXPECT_EQ(ours.cluster_bytes, layout.cluster_bytes);
        EXPECT_EQ(ours.volume_sectors * c.sector, layout.partition_bytes);
        free_bytes = ours.free_bytes;
        // mkfs.exfat cannot be told a sector size; on 512-byte sectors the
        // free space in bytes is the same to well within the margin.
        Ran mk = run("mkfs.exfat -c " + std::to_string(layout.cluster_bytes) + " " + q(reference));
        ASSERT_EQ(mk.status, 0) << mk.out;
        reference_free = dump_exfat(reference).free_bytes;
    }
    std::filesystem::remove(reference);
    ASSERT_GT(reference_free, 0u);
    EXPECT_NEAR(static_cast<double>(free_bytes), static_cast<double>(reference_free),
                0.01 * static_cast<double>(reference_free));
    Ran blkid = run("blkid -p -o export " + q(volume));
    EXPECT_NE(blkid.out.find(fat ? "TYPE=vfat" : "TYPE=exfat"), std::string::npos) << blkid.out;
    EXPECT_NE(blkid.out.find(R"(LABEL=USB\ DRIVE)"), std::string::npos) << blkid.out;

    // Files of several sizes in and back out.
    const std::pair<std::string, std::string> files[] = {
        {"empty", ""},
        {"one", random_bytes(1, 1)},
        {"cluster", random_bytes(layout.cluster_bytes, 2)},
        {"several", random_bytes(3 * MiB + 123, 3)},
    };
    for (const auto& [name, bytes] : files)
        sw::test::write_file(dir / name, bytes);
    std::optional<Mounted> mount;
    mount.emplace(volume, layout.fs, dir / "mnt");
    if (mount->ok()) {
        for (const auto& [name, bytes] : files)
            std::filesystem::copy_file(dir / name, dir / "mnt" / name);
        mount.reset();
        mount.emplace(volume, layout.fs, dir / "mnt");  // read back from the volume, not a cache
        ASSERT_TRUE(mount->ok());
        for (const auto& [name, bytes] : files)
            EXPECT_EQ(sw::test::read_file(dir / "mnt" / name), bytes) << name;
        mount.reset();
    } else {
        mount.reset();
        ASSERT_TRUE(fat) << "no way to mount the exFAT volume (root and FUSE, or the kernel)";
        for (const auto& [name, bytes] : files) {
            Ran in = run("mcopy -i " + q(volume) + " " + q(dir / name) + " ::" + name);
            ASSERT_EQ(in.status, 0) << in.out;
        }
        for (const auto& [name, bytes] : files) {
            Ran out =
                run("mcopy -n -i " + q(volume) + " ::" + name + " " + q(dir / (name + ".back")));
            ASSERT_EQ(out.status, 0) << out.out;
            EXPECT_EQ(sw::test::read_file(dir / (name + ".back")), bytes) << name;
        }
    }
    if (fat)
        EXPECT_EQ(fsck_fat_clean(volume).files, 5u);
    else
        fsck_exfat_clean(volume, 4);
}

std::string case_name(const ::testing::TestParamInfo<Case>& info) {
    const Case& c = info.param;
    std::string size = c.drive == 0 ? "smallest" : std::to_string(c.drive / MiB) + "MiB";
    return size + "_" + std::to_string(c.sector);
}

// Sizes on both sides of the cluster-size steps, the switch to exFAT, the
// smallest drive and the largest an MBR addresses.
INSTANTIATE_TEST_SUITE_P(Sizes, FormatTools,
                         ::testing::Values(Case{0, 512}, Case{65 * MiB, 512}, Case{66 * MiB, 512},
                                           Case{300 * MiB, 512}, Case{8 * GiB + 2 * MiB, 512},
                                           Case{32 * GiB, 512}, Case{32 * GiB + 1 * MiB, 512},
                                           Case{64'000'000'000, 512}, Case{2 * TiB, 512},
                                           Case{0, 4096}, Case{16 * GiB + 2 * MiB, 4096},
                                           Case{64'000'000'000, 4096}, Case{2 * TiB, 4096}),
                         case_name);

// The whole drive as partitioning tools read it: one partition of the right
// type from 1 MiB, nothing left of an old GPT.
TEST(FormatTools, PartitionTableReadsAsOnePartitionFromOneMiB) {
    for (uint64_t drive : {4 * GiB, 40 * GiB}) {
        const uint32_t sector = 512;  // sfdisk reads image files as 512-byte sectors
        auto layout = format::lay_out(drive, sector, 7);
        ASSERT_TRUE(layout);
        TempDir dir;
        const auto disk = dir / "disk.img";
        sw::test::make_file(disk, drive);
        // What a drive held before: a GPT.
        Ran gpt = run("echo 'label: gpt' | sfdisk " + q(disk));
        ASSERT_EQ(gpt.status, 0) << gpt.out;
        ASSERT_TRUE(sw::test::write_layout(*layout, disk, 0, drive));
        Ran r = run("sfdisk -d " + q(disk));
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("label: dos"), std::string::npos) << r.out;
        std::string type = layout->fs == FileSystem::Fat32 ? "type=c" : "type=7";
        std::regex entry("start= *" + std::to_string(MiB / sector) + ", size= *" +
                         std::to_string(layout->partition_bytes / sector) + ", " + type + "\n");
        EXPECT_TRUE(std::regex_search(r.out, entry)) << r.out;
        EXPECT_EQ(r.out.find("bootable"), std::string::npos);
    }
}

}  // namespace
