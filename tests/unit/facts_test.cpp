// System facts and refusals: where the system lives, and why a drive must
// not be written. What cannot be learned must never pass for harmless.
#include <gtest/gtest.h>

#include <map>

#include "disk/disk_system.h"
#include "disk/drives.h"
#include "disk/facts.h"

namespace sw {
namespace {

using Disks = std::vector<uint32_t>;

DeviceInfo usb(uint32_t number, uint64_t size = 16000000000) {
    DeviceInfo d;
    d.number = number;
    d.bus = BusKind{BusKind::Usb, 0};
    d.size = size;
    return d;
}

SystemFacts all_on(Disks disks) {
    return SystemFacts{disks, disks, disks, disks, disks, Disks{}};
}

TEST(Refusals, NonUsbDiskHoldingNothingHasOnlyNotUsb) {
    DeviceInfo d = usb(1);
    d.bus = BusKind{BusKind::Sata, 0};
    auto r = refusals_for(d, all_on({0}), std::nullopt);
    EXPECT_EQ(debug_string(r), "[NotUsb]");
}

TEST(Refusals, SystemDiskCarriesEveryFactInOrder) {
    DeviceInfo d = usb(0);
    d.bus = BusKind{BusKind::Other, 14};
    SystemFacts f = all_on({0});
    f.image = Disks{0};
    EXPECT_EQ(debug_string(refusals_for(d, f, std::nullopt)),
              "[NotUsb, Windows, SystemDrive, BootPartition, Pagefile, Executable, ContainsImage]");
}

TEST(Refusals, UndeterminedFactsBlockEveryDriveInTheirPlace) {
    SystemFacts f = all_on({0});
    f.boot_partition = unexpected(std::string("SystemPartition: Access is denied. (os error 5)"));
    f.executable = unexpected(std::string("volume of \"x\": y"));
    EXPECT_EQ(debug_string(refusals_for(usb(3), f, std::nullopt)),
              "[Undetermined(\"SystemPartition: Access is denied. (os error 5)\"), "
              "Undetermined(\"volume of \\\"x\\\": y\")]");
    EXPECT_TRUE(refusals_for(usb(3), all_on({0}), std::nullopt).empty());
}

TEST(Refusals, SizeRules) {
    SystemFacts f = all_on({0});
    EXPECT_TRUE(refusals_for(usb(2, 8000000000), f, uint64_t{8000000000}).empty());
    EXPECT_EQ(debug_string(refusals_for(usb(2, 8000000000), f, uint64_t{8000000001})),
              "[TooSmall { need: 8000000001 }]");
    // A card reader without a card has no medium, never "too small".
    EXPECT_EQ(debug_string(refusals_for(usb(2, 0), f, uint64_t{4294967296})), "[NoMedia]");
}

TEST(Refusals, ExecutableComesBeforeContainsImage) {
    SystemFacts f = all_on({0});
    f.executable = Disks{4};
    f.image = Disks{4, 4};
    EXPECT_EQ(debug_string(refusals_for(usb(4), f, std::nullopt)), "[Executable, ContainsImage]");
}

TEST(Facts, DebugRendering) {
    SystemFacts f{Disks{0}, Disks{0, 1}, Disks{}, unexpected(std::string("a\\b")),
                  Disks{0}, Disks{}};
    EXPECT_EQ(debug_string(f),
              "SystemFacts { windows: Ok([0]), system_drive: Ok([0, 1]), boot_partition: Ok([]), "
              "pagefile: Err(\"a\\\\b\"), executable: Ok([0]), image: Ok([]) }");
}

// --- Windows ----------------------------------------------------------------------

const std::string kVolC = "\\\\?\\Volume{c}\\";
const std::string kVolD = "\\\\?\\Volume{d}\\";
const std::string kVolE = "\\\\?\\Volume{e}\\";

// Recorded answers of a machine: C: and its setup partition on disk 0, D: on
// disks 0 and 1, E: a stick on disk 2, N: a mapped network drive.
class RecordedWindows : public WindowsFactsSource, public WindowsPathQuery {
  public:
    std::map<std::string, std::string> env_vars{{"SystemRoot", "C:\\Windows"},
                                                {"SystemDrive", "C:"}};
    Result<std::string, OsError> partition = std::string("\\Device\\HarddiskVolume1");
    Result<std::vector<std::string>, OsError> page_files =
        std::vector<std::string>{"\\??\\C:\\pagefile.sys"};
    Result<std::string, OsError> exe = std::string("E:\\Ortivex-Stickwright.exe");
    Result<std::vector<VolumeInfo>, OsError> volume_list = std::vector<VolumeInfo>{
        {"\\\\?\\Volume{esp}\\", "\\Device\\HarddiskVolume1", {0}, {}, {}},
        {kVolC, "\\Device\\HarddiskVolume3", {0}, {'C'}, {}},
        {kVolD, "\\Device\\HarddiskVolume4", {0, 1}, {'D'}, {}},
        {kVolE, "\\Device\\HarddiskVolume9", {2}, {'E'}, {}},
    };
    std::vector<std::string> located;

    Result<std::string, OsError> volume_path_name(const std::string& path) override {
        located.push_back(path);
        std::string p = path.starts_with("\\\\?\\") ? path.substr(4) : path;
        if (p.size() >= 2 && p[1] == ':') return p.substr(0, 2) + "\\";
        return unexpected(
            message_error("The filename, directory name, or volume label syntax is "
                          "incorrect. (os error 123)"));
    }
    Result<std::string, OsError> volume_name_for_mount_point(const std::string& mp) override {
        static const std::map<std::string, std::string> guids{{"C:\\", kVolC},
                                                              {"D:\\", kVolD},
                                                              {"E:\\", kVolE},
                                                              {"F:\\", "\\\\?\\Volume{f}\\"},
                                                              {"G:\\", "\\\\?\\Volume{g}\\"}};
        auto it = guids.find(mp);
        if (it == guids.end())
            return unexpected(message_error("The device is not ready. (os error 21)", kNotReady));
        return it->second;
    }
    bool is_remote_drive(const std::string& root) override { return root == "N:\\"; }
    Result<std::vector<VolumeInfo>, OsError> volumes() { return volume_list; }
    std::optional<std::string> env(std::string_view name) override {
        auto it = env_vars.find(std::string(name));
        if (it == env_vars.end()) return std::nullopt;
        return it->second;
    }
    Result<std::string, OsError> system_partition() override { return partition; }
    Result<std::vector<std::string>, OsError> existing_page_files() override { return page_files; }
    Result<std::string, OsError> current_exe() override { return exe; }
};

// The drive seam over recorded Windows answers; only what gathering the facts
// asks is answered. `backed` lists the disks that hold a path although no
// volume knows it, as a decorator with simulated drives would answer.
class RecordedWindowsDisks final : public DiskSystemWrapper {
  public:
    explicit RecordedWindowsDisks(RecordedWindows& w) : DiskSystemWrapper(nullptr), w_(w) {}
    std::map<std::string, std::vector<uint32_t>> backed;
    std::vector<std::pair<uint32_t, std::string>> also_held;

    Result<std::vector<VolumeInfo>, OsError> enumerate_volumes() override { return w_.volumes(); }
    Result<SystemPlaces, std::string> system_places() override { return windows_system_places(w_); }
    DiskFact locate_path(const std::vector<VolumeInfo>& v, const std::string& path) override {
        return windows_disks_of_path(v, path, w_);
    }
    std::vector<uint32_t> disks_backed_by(const std::string& path) override {
        auto it = backed.find(path);
        return it == backed.end() ? std::vector<uint32_t>{} : it->second;
    }
    void add_held(std::vector<std::pair<uint32_t, std::string>>& held) override {
        held.insert(held.end(), also_held.begin(), also_held.end());
    }

  private:
    RecordedWindows& w_;
};

SystemFacts gather_windows_facts(RecordedWindows& w, const std::optional<std::string>& image) {
    return gather_system_facts(std::make_shared<RecordedWindowsDisks>(w), image);
}

TEST(WindowsPath, NetworkPathsLieOnNoLocalDisk) {
    RecordedWindows w;
    auto vols = *w.volumes();
    EXPECT_EQ(windows_disks_of_path(vols, "\\\\server\\share\\image.iso", w), Disks{});
    EXPECT_EQ(windows_disks_of_path(vols, "N:\\images\\image.iso", w), Disks{});
    EXPECT_TRUE(w.located.size() == 1);  // the UNC path was never asked about
    // The verbatim form with a drive letter is resolved normally.
    EXPECT_EQ(windows_disks_of_path(vols, "\\\\?\\D:\\image.iso", w), (Disks{0, 1}));
    // "\\" alone and "\\?\" alone count as network paths by length.
    EXPECT_EQ(windows_disks_of_path(vols, "\\\\?", w), Disks{});
}

TEST(WindowsPath, FailuresAreReasons) {
    RecordedWindows w;
    auto vols = *w.volumes();
    EXPECT_EQ(windows_disks_of_path(vols, "relative\\x.iso", w).error(),
              "volume of relative\\x.iso: The filename, directory name, or volume label syntax is "
              "incorrect. (os error 123)");
    EXPECT_EQ(windows_disks_of_path(vols, "Q:\\x.iso", w).error(),
              "volume of Q:\\x.iso: The device is not ready. (os error 21)");
    EXPECT_EQ(windows_disks_of_path(vols, "F:\\x.iso", w).error(),
              "volume \\\\?\\Volume{f}\\ of F:\\x.iso not found");
    // Names compare without regard to ASCII case.
    vols.push_back({"\\\\?\\VOLUME{G}\\", "", {7}, {}, {}});
    EXPECT_EQ(windows_disks_of_path(vols, "G:\\x.iso", w), Disks{7});
}

TEST(WindowsPath, AVolumeWhoseDisksAreUnknownIsNotOnNoDisk) {
    RecordedWindows w;
    auto vols = *w.volumes();
    vols.push_back({"\\\\?\\Volume{g}\\", "", {}, {'G'}, {}});
    EXPECT_EQ(windows_disks_of_path(vols, "G:\\x.iso", w).error(),
              "disks of volume \\\\?\\Volume{g}\\ of G:\\x.iso unknown");
}

TEST(WindowsFacts, OrdinaryMachine) {
    RecordedWindows w;
    auto f = gather_windows_facts(w, std::string("D:\\images\\ortivex.iso"));
    EXPECT_EQ(debug_string(f),
              "SystemFacts { windows: Ok([0]), system_drive: Ok([0]), boot_partition: Ok([0]), "
              "pagefile: Ok([0]), executable: Ok([2]), image: Ok([0, 1]) }");
    EXPECT_EQ(w.located[1], "C:\\");  // the system drive's root
    EXPECT_EQ(w.located[2], "C:\\pagefile.sys");
    EXPECT_EQ(gather_windows_facts(w, std::nullopt).image, Disks{});
}

TEST(WindowsFacts, TheOutermostSeamsDisksCount) {
    // A drive that the seam says is backed by the image or the program holds
    // them although no volume knows it; the held disks it adds stay.
    RecordedWindows w;
    auto disks = std::make_shared<RecordedWindowsDisks>(w);
    disks->backed["D:\\images\\ortivex.iso"] = {4000000000u, 0};
    disks->backed["E:\\Ortivex-Stickwright.exe"] = {4000000001u};
    disks->also_held = {{4000000002u, "held by its backing"}};
    auto f = gather_system_facts(disks, std::string("D:\\images\\ortivex.iso"));
    EXPECT_EQ(f.image, (Disks{0, 1, 4000000000u}));
    EXPECT_EQ(f.executable, (Disks{2, 4000000001u}));
    EXPECT_EQ(f.system_volume, Disks{0});
    ASSERT_EQ(f.held.size(), 1u);
    EXPECT_EQ(f.held[0].first, 4000000002u);
    // A path that cannot be located stays a reason whatever backs it.
    disks->backed["Q:\\x.iso"] = {4000000000u};
    EXPECT_FALSE(gather_system_facts(disks, std::string("Q:\\x.iso")).image);
}

TEST(WindowsFacts, WindirStandsInForSystemRoot) {
    RecordedWindows w;
    w.env_vars = {{"windir", "D:\\Windows"}};
    auto f = gather_windows_facts(w, std::nullopt);
    EXPECT_EQ(f.system_volume, (Disks{0, 1}));
    EXPECT_EQ(f.boot_volume.error(), "SystemDrive is not set");
    w.env_vars.clear();
    f = gather_windows_facts(w, std::nullopt);
    EXPECT_EQ(f.system_volume.error(), "SystemRoot is not set");
    EXPECT_EQ(
        debug_string(refusals_for(usb(5), f, std::nullopt)),
        "[Undetermined(\"SystemRoot is not set\"), Undetermined(\"SystemDrive is not set\")]");
}

TEST(WindowsFacts, BootPartitionMustBeAVolumeWithDisks) {
    RecordedWindows w;
    w.partition = std::string("\\DEVICE\\HARDDISKVOLUME4");
    EXPECT_EQ(gather_windows_facts(w, std::nullopt).boot_partition, (Disks{0, 1}));
    w.partition = std::string("\\Device\\HarddiskVolume7");
    EXPECT_EQ(gather_windows_facts(w, std::nullopt).boot_partition.error(),
              "boot partition \\Device\\HarddiskVolume7 not found among volumes");
    w.volume_list->push_back({"\\\\?\\Volume{x}\\", "\\Device\\HarddiskVolume7", {}, {}, {}});
    EXPECT_EQ(gather_windows_facts(w, std::nullopt).boot_partition.error(),
              "boot partition \\Device\\HarddiskVolume7 not found among volumes");
    w.partition = unexpected(message_error("Access is denied. (os error 5)", kAccessDenied));
    EXPECT_EQ(gather_windows_facts(w, std::nullopt).boot_partition.error(),
              "SystemPartition: Access is denied. (os error 5)");
}

TEST(WindowsFacts, PageFiles) {
    RecordedWindows w;
    w.page_files = unexpected(message_error(
        "The system cannot find the file specified. (os error 2)", kNotFound | kDisconnected));
    EXPECT_EQ(gather_windows_facts(w, std::nullopt).swap, Disks{});

    w.page_files = unexpected(message_error("Access is denied. (os error 5)", kAccessDenied));
    EXPECT_EQ(gather_windows_facts(w, std::nullopt).swap.error(),
              "ExistingPageFiles: Access is denied. (os error 5)");

    // Repeats kept; one unreachable page file makes the whole fact a reason.
    w.page_files = std::vector<std::string>{"\\??\\C:\\pagefile.sys", "", "D:\\pagefile.sys"};
    EXPECT_EQ(gather_windows_facts(w, std::nullopt).swap, (Disks{0, 0, 1}));
    w.page_files = std::vector<std::string>{"\\??\\C:\\pagefile.sys", "\\??\\Q:\\pagefile.sys"};
    auto f = gather_windows_facts(w, std::nullopt);
    EXPECT_EQ(f.swap.error(), "volume of Q:\\pagefile.sys: The device is not ready. (os error 21)");
    EXPECT_EQ(debug_string(refusals_for(usb(2), f, std::nullopt)),
              "[Undetermined(\"volume of Q:\\\\pagefile.sys: The device is not ready. "
              "(os error 21)\"), Executable]");
}

TEST(WindowsFacts, NothingReadableMeansNothingIsSafe) {
    RecordedWindows w;
    OsError denied = message_error("Access is denied. (os error 5)", kAccessDenied);
    w.volume_list = unexpected(denied);
    auto f = gather_windows_facts(w, std::string("E:\\x.iso"));
    auto r = refusals_for(usb(2), f, std::nullopt);
    ASSERT_EQ(r.size(), 6u);
    for (const auto& refusal : r) {
        EXPECT_EQ(refusal.kind, Refusal::Undetermined);
        EXPECT_EQ(refusal.text, "volume enumeration failed: Access is denied. (os error 5)");
    }

    // Volumes readable, everything else denied.
    RecordedWindows v;
    v.env_vars.clear();
    v.partition = unexpected(denied);
    v.page_files = unexpected(denied);
    v.exe = unexpected(denied);
    auto g = gather_windows_facts(v, std::nullopt);
    auto refusals = refusals_for(usb(2), g, std::nullopt);
    EXPECT_EQ(refusals.size(), 5u);
    for (const auto& refusal : refusals)
        EXPECT_EQ(refusal.kind, Refusal::Undetermined);
    EXPECT_EQ(g.executable.error(), "current_exe: Access is denied. (os error 5)");
}

}  // namespace
}  // namespace sw
