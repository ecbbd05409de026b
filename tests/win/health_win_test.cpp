// The Windows adapters of the drive check and of eject under wine: the file
// test and the diagnosis on a real volume, file-system names by letter, the
// layout refresh of a disk that is not there, and the development remedy
// that tells the disks of wine's volumes.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "core/text.h"
#include "disk/drives.h"
#include "disk/health.h"
#include "disk/health_check.h"
#include "disk/platform_health.h"
#include "platform/win/wide.h"
#include "support/fake_clock.h"
#include "support/machine.h"
#include "support/temp_dir.h"

#ifdef ORTIVEX_SIMULATED_DRIVES
#include "disk/simulated/system_disk.h"
#endif

namespace sw {
namespace {

namespace fs = std::filesystem;

std::string path_text(const fs::path& p) {
    return win::narrow(p.wstring());
}

// A drive letter that no volume uses here.
std::optional<char> unused_letter() {
    DWORD used = GetLogicalDrives();
    for (char letter = 'Q'; letter <= 'Y'; ++letter)
        if ((used & (1u << (letter - 'A'))) == 0) return letter;
    return std::nullopt;
}

TEST(WindowsFileTest, WritesAndDeletesItsFile) {
    test::TempDir dir;
    auto ops = platform::file_ops();
    auto path = path_text(dir / "ortivex-write-test.tmp");
    ASSERT_TRUE(run_file_test(*ops, path));
    EXPECT_FALSE(fs::exists(dir / "ortivex-write-test.tmp"));
    // A file left from an earlier run is truncated and replaced.
    test::write_file(dir / "ortivex-write-test.tmp", std::string(3 << 20, 'x'));
    ASSERT_TRUE(run_file_test(*ops, path));
    EXPECT_FALSE(fs::exists(dir / "ortivex-write-test.tmp"));

    auto missing = run_file_test(*ops, path_text(dir / "no" / "ortivex-write-test.tmp"));
    ASSERT_FALSE(missing);
    EXPECT_TRUE(missing.error().is(kNotFound));
}

TEST(WindowsFileTest, FileSystemNamesByLetter) {
    DeviceInfo drive;
    drive.letters = {'C', 'Z'};
    auto targets = test::dev_disks()->file_test_targets(drive);
    ASSERT_EQ(targets.size(), 2u);
    EXPECT_EQ(targets[0].root, "C:\\");
    EXPECT_EQ(targets[1].file, "Z:\\ortivex-write-test.tmp");
    auto name = platform::file_system_name(targets[0]);
    ASSERT_TRUE(name);
    EXPECT_FALSE(name->empty());
    if (auto free = unused_letter()) {
        EXPECT_EQ(platform::file_system_name(letter_target(*free)), std::nullopt);
    }
}

TEST(WindowsFileTest, DiagnosisOnARealVolume) {
    test::FakeClock clock;
    std::string ok = filesystem_diagnosis(platform_disk_system(clock), 'C');
    EXPECT_TRUE(ok.starts_with("OK on C: in ")) << ok;
    EXPECT_TRUE(ok.ends_with(" ms (Windows can write files to this drive)")) << ok;
    EXPECT_FALSE(fs::exists("C:\\ortivex-write-test.tmp"));
    if (auto free = unused_letter()) {
        std::string failed = filesystem_diagnosis(platform_disk_system(clock), *free);
        EXPECT_TRUE(failed.starts_with(fmt("FAILED on {}: ", *free))) << failed;
    }
}

TEST(WindowsEjectAdapter, LayoutRefreshOfADiskThatIsNotThere) {
    auto system = platform::eject_system(platform_disk_system(real_clock()));
    EXPECT_EQ(system->refresh_name(), "IOCTL_DISK_UPDATE_PROPERTIES");
    auto refreshed = system->refresh_layout(3999999999u);
    ASSERT_FALSE(refreshed);
    EXPECT_TRUE(refreshed.error().text.find("(os error ") != std::string::npos);
}

#ifdef ORTIVEX_SIMULATED_DRIVES

TEST(WindowsSystemDisk, TheRemedyTellsTheDisksOfWinesVolumes) {
    test::ScopedEnv env(std::string(simulated::kSystemDiskVariable), "0");
    auto volumes = test::dev_disks()->enumerate_volumes();
    ASSERT_TRUE(volumes);
    ASSERT_FALSE(volumes->empty());
    bool has_c = false;
    for (const auto& v : *volumes) {
        EXPECT_FALSE(v.disks.empty()) << v.name;
        if (std::find(v.letters.begin(), v.letters.end(), 'C') != v.letters.end()) {
            has_c = true;
            EXPECT_EQ(v.disks, std::vector<uint32_t>{0}) << v.name;
        }
    }
    EXPECT_TRUE(has_c);
    auto facts = gather_system_facts(test::dev_disks(), std::nullopt);
    EXPECT_EQ(facts.system_volume, DiskFact(std::vector<uint32_t>{0}));
    EXPECT_EQ(facts.boot_volume, DiskFact(std::vector<uint32_t>{0}));
}

#endif

}  // namespace
}  // namespace sw
