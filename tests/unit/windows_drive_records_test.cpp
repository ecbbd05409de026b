// Disk records from recorded answers: descriptor bytes, alignment, geometry
// and length fallbacks, volume extents and mount paths, the USB speed walk.
#include <gtest/gtest.h>

#include <map>

#include "disk/device_info.h"
#include "disk/windows_drive_records.h"

namespace sw {
namespace {

// Little-endian byte writers for recorded answers.
void put32(std::string& b, size_t at, uint32_t v) {
    if (b.size() < at + 4) b.resize(at + 4, '\0');
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void put64(std::string& b, size_t at, int64_t v) {
    if (b.size() < at + 8) b.resize(at + 8, '\0');
    for (int i = 0; i < 8; ++i)
        b[at + i] = static_cast<char>((static_cast<uint64_t>(v) >> (8 * i)) & 0xFF);
}

// A STORAGE_DEVICE_DESCRIPTOR with its strings after the fixed part.
struct Descriptor {
    std::string vendor = "SanDisk ";
    std::string product = "Cruzer Blade    ";
    std::string serial = "4C530001230508116463";
    uint32_t bus = bus_code::kUsb;
    bool removable = true;

    std::string bytes() const {
        std::string b(36, '\0');
        auto add = [&](const std::string& text) {
            uint32_t at = static_cast<uint32_t>(b.size());
            b += text;
            b += '\0';
            return at;
        };
        put32(b, 12, add(vendor));
        put32(b, 16, add(product));
        put32(b, 24, add(serial));
        put32(b, 28, bus);
        b[10] = removable ? 1 : 0;
        put32(b, 4, static_cast<uint32_t>(b.size()));
        return b;
    }
};

std::string device_number(uint32_t n) {
    std::string b;
    put32(b, 0, 7);  // FILE_DEVICE_DISK
    put32(b, 4, n);
    put32(b, 8, 0xFFFFFFFF);
    return b;
}

std::string alignment(uint32_t logical, uint32_t physical) {
    std::string b;
    put32(b, 0, 1);
    put32(b, 4, 28);
    put32(b, 16, logical);
    put32(b, 20, physical);
    put32(b, 24, 0);
    return b;
}

std::string geometry(uint32_t bytes_per_sector, int64_t size) {
    std::string b;
    put64(b, 0, 1000);
    put32(b, 20, bytes_per_sector);
    put64(b, 24, size);
    return b;
}

std::string length(int64_t size) {
    std::string b;
    put64(b, 0, size);
    return b;
}

DiskAnswers usb_stick(uint32_t number = 2) {
    DiskAnswers a;
    a.instance_id = "USBSTOR\\DISK&VEN_SANDISK&PROD_CRUZER_BLADE&REV_1.00\\4C530001230508116463&0";
    a.dev_inst = 77;
    a.device_number = device_number(number);
    a.descriptor = Descriptor{}.bytes();
    a.alignment = alignment(512, 512);
    a.geometry = geometry(512, 15728640000);
    a.length = length(15728640000);
    return a;
}

TEST(DescriptorText, OffsetsOutsideTheUsableLengthGiveEmptyTexts) {
    std::string b = Descriptor{}.bytes();
    EXPECT_EQ(descriptor_text(b, static_cast<uint32_t>(b.size()), 0), "");
    EXPECT_EQ(descriptor_text(b, 40, 41), "");
    EXPECT_EQ(descriptor_text(b, 40, 40), "");
    // The usable length cuts a string short even without its terminator.
    EXPECT_EQ(descriptor_text(b, 39, 36), "San");
}

TEST(DescriptorText, CleansControlAndNonAsciiBytesAndTrims) {
    std::string b(8, '\0');
    b += "  Cruzer\tBl\xC3\xA9"
         "de \x7F ";
    b += '\0';
    EXPECT_EQ(descriptor_text(b, static_cast<uint32_t>(b.size()), 8), "Cruzer Bl  de");
}

TEST(DescriptorText, UnterminatedLongStringIsCutTo256BytesBeforeTrimming) {
    std::string b(8, '\0');
    b += std::string(255, 'A') + " B" + std::string(43, 'C');  // 300 printable bytes
    auto text = descriptor_text(b, static_cast<uint32_t>(b.size()), 8);
    EXPECT_EQ(text, std::string(255, 'A'));  // cut after the blank, which trimming removes
    EXPECT_EQ(clean_text(std::string(300, 'x')).size(), 256u);
}

TEST(StorageDescriptor, UsableLengthIsTheSmallerOfReturnedAndSize) {
    Descriptor d;
    std::string b = d.bytes();
    auto full = parse_storage_descriptor(b);
    ASSERT_TRUE(full);
    EXPECT_EQ(full->vendor, "SanDisk");
    EXPECT_EQ(full->product, "Cruzer Blade");
    EXPECT_EQ(full->serial, "4C530001230508116463");
    EXPECT_TRUE(full->removable);
    EXPECT_EQ(full->bus_type, bus_code::kUsb);

    // A Size member that claims less than was returned hides the strings.
    std::string shrunk = b;
    put32(shrunk, 4, 36);
    auto cut = parse_storage_descriptor(shrunk);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->vendor, "");
    EXPECT_EQ(cut->serial, "");

    // Too short to hold the bus type, by either measure.
    EXPECT_EQ(parse_storage_descriptor(b.substr(0, 31)).error(), "bad device descriptor");
    std::string small_size = b;
    put32(small_size, 4, 31);
    EXPECT_EQ(parse_storage_descriptor(small_size).error(), "bad device descriptor");
    EXPECT_EQ(parse_storage_descriptor(b.substr(0, 7)).error(), "bad device descriptor");
}

TEST(BusKind, MapsTheStorageBusTypes) {
    EXPECT_EQ(bus_name(bus_kind_of_code(7)), "Usb");
    EXPECT_EQ(bus_name(bus_kind_of_code(12)), "Sd");
    EXPECT_EQ(bus_name(bus_kind_of_code(11)), "Sata");
    EXPECT_EQ(bus_name(bus_kind_of_code(3)), "Sata");
    EXPECT_EQ(bus_name(bus_kind_of_code(17)), "Nvme");
    EXPECT_EQ(bus_name(bus_kind_of_code(13)), "Other(13)");
    EXPECT_EQ(bus_name(bus_kind_of_code(1)), "Other(1)");
    EXPECT_EQ(bus_kind_of_code(1), (BusKind{BusKind::Other, 1}));
}

TEST(SectorSizes, AlignmentThenGeometryThen512) {
    auto a = [](uint32_t l, uint32_t p) { return parse_alignment(alignment(l, p)); };
    EXPECT_EQ(choose_sectors(a(512, 4096), std::nullopt).logical, 512u);
    EXPECT_EQ(choose_sectors(a(512, 4096), std::nullopt).physical, 4096u);
    EXPECT_EQ(choose_sectors(a(4096, 512), std::nullopt).physical, 4096u);
    EXPECT_FALSE(a(520, 520));
    EXPECT_FALSE(a(256, 512));
    EXPECT_FALSE(a(131072, 131072));
    EXPECT_TRUE(a(65536, 65536));
    // Rejected alignment: the geometry's sector size, unchecked.
    auto g = parse_geometry(geometry(520, 1 << 20));
    EXPECT_EQ(choose_sectors(a(520, 520), g).logical, 520u);
    EXPECT_EQ(choose_sectors(a(520, 520), g).physical, 520u);
    EXPECT_EQ(choose_sectors(std::nullopt, parse_geometry(geometry(0, 1 << 20))).logical, 512u);
    EXPECT_EQ(choose_sectors(std::nullopt, std::nullopt).physical, 512u);
    // Short alignment answers do not count.
    EXPECT_FALSE(parse_alignment(alignment(4096, 4096).substr(0, 23)));
}

TEST(DiskSize, LengthThenGeometryThenNoMedium) {
    auto g = parse_geometry(geometry(512, 8000000000));
    EXPECT_EQ(choose_size(length(7999999488), g), 7999999488u);
    EXPECT_EQ(choose_size(length(0), g), 0u);
    EXPECT_EQ(choose_size(length(-5), g), 0u);
    EXPECT_EQ(choose_size(length(5).substr(0, 7), g), 8000000000u);
    EXPECT_EQ(choose_size(length(5) + "x", g), 8000000000u);
    EXPECT_EQ(choose_size(std::nullopt, g), 8000000000u);
    EXPECT_EQ(choose_size(std::nullopt, std::nullopt), 0u);
    // A negative or short geometry is no geometry.
    EXPECT_FALSE(parse_geometry(geometry(512, -1)));
    EXPECT_FALSE(parse_geometry(geometry(512, 1).substr(0, 31)));
}

TEST(DiskRecord, BuiltFromAllAnswers) {
    auto d = device_info_from_answers(usb_stick(2));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->number, 2u);
    EXPECT_EQ(d->bus.kind, BusKind::Usb);
    EXPECT_EQ(d->vendor, "SanDisk");
    EXPECT_EQ(d->product, "Cruzer Blade");
    EXPECT_EQ(d->size, 15728640000u);
    EXPECT_EQ(d->logical_sector, 512u);
    EXPECT_TRUE(d->removable);
    EXPECT_EQ(d->dev_inst, 77u);
    EXPECT_TRUE(d->letters.empty());
    EXPECT_FALSE(d->usb_speed);
}

TEST(DiskRecord, LeftOutWhenNumberOrDescriptorFail) {
    auto a = usb_stick();
    a.device_number = device_number(3).substr(0, 7);
    EXPECT_EQ(device_info_from_answers(a).error(), "bad device number");
    a.device_number = unexpected(message_error("Access is denied. (os error 5)"));
    EXPECT_EQ(device_info_from_answers(a).error(), "Access is denied. (os error 5)");
    a = usb_stick();
    a.descriptor = std::nullopt;
    EXPECT_EQ(device_info_from_answers(a).error(), "bad device descriptor");
    // Missing instance ID, alignment, geometry and length do not leave it out.
    a = usb_stick();
    a.instance_id.clear();
    a.alignment = a.geometry = a.length = std::nullopt;
    auto d = device_info_from_answers(a);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->size, 0u);
    EXPECT_EQ(d->logical_sector, 512u);
}

TEST(DiskList, SortedByNumberKeepingEqualOnesInOrder) {
    std::vector<DeviceInfo> disks(3);
    disks[0].number = 3;
    disks[1].number = 1;
    disks[1].serial = "first";
    disks[2].number = 1;
    disks[2].serial = "second";
    sort_by_number(disks);
    EXPECT_EQ(disks[0].serial, "first");
    EXPECT_EQ(disks[1].serial, "second");
    EXPECT_EQ(disks[2].number, 3u);
}

TEST(VolumeExtents, DisksInFirstSeenOrderWithoutRepeats) {
    auto extents = [](std::vector<uint32_t> disks, uint32_t count_claimed, size_t cut = 0) {
        std::string b;
        put32(b, 0, count_claimed);
        put32(b, 4, 0);
        for (size_t i = 0; i < disks.size(); ++i) {
            put32(b, 8 + 24 * i, disks[i]);
            put64(b, 8 + 24 * i + 8, 1 << 20);
            put64(b, 8 + 24 * i + 16, 1 << 30);
        }
        if (cut) b.resize(cut);
        return std::optional<std::string>(b);
    };
    EXPECT_EQ(disks_from_extents(extents({2, 1, 2}, 3)), (std::vector<uint32_t>{2, 1}));
    EXPECT_TRUE(disks_from_extents(extents({}, 0)).empty());
    EXPECT_TRUE(disks_from_extents(std::nullopt).empty());
    EXPECT_TRUE(disks_from_extents(std::string("\x01\x00\x00", 3)).empty());
    // An extent claimed but not returned drops the whole list.
    EXPECT_TRUE(disks_from_extents(extents({1, 2}, 3)).empty());
    EXPECT_EQ(disks_from_extents(extents({1, 2}, 2, 8 + 24 + 4)), (std::vector<uint32_t>{1, 2}));
    EXPECT_TRUE(disks_from_extents(extents({1, 2}, 2, 8 + 24 + 3)).empty());
}

TEST(VolumeNames, TrimmedAndStripped) {
    EXPECT_EQ(trim_trailing_backslashes("\\\\?\\Volume{a}\\\\"), "\\\\?\\Volume{a}");
    EXPECT_EQ(strip_verbatim_prefixes("\\\\?\\\\\\?\\Volume{a}"), "Volume{a}");
    EXPECT_EQ(strip_verbatim_prefixes("Volume{a}"), "Volume{a}");
}

TEST(MountPaths, OnlyDriveRootsGiveLetters) {
    EXPECT_EQ(letters_from_mount_paths({"E:\\", "f:", "C:\\mnt\\stick\\", "G"}),
              (std::vector<char>{'E', 'F'}));
}

TEST(Letters, VolumesSpanningDisksGiveTheirLettersToBoth) {
    std::vector<DeviceInfo> drives(3);
    drives[0].number = 1;
    drives[1].number = 2;
    drives[2].number = 3;
    std::vector<VolumeInfo> volumes = {
        {"\\\\?\\Volume{a}\\", "", {1, 2}, {'F'}, {}},
        {"\\\\?\\Volume{b}\\", "", {2}, {'E', 'F'}, {}},
        {"\\\\?\\Volume{c}\\", "", {}, {'Z'}, {}},
    };
    assign_letters(drives, volumes);
    EXPECT_EQ(drives[0].letters, (std::vector<char>{'F'}));
    EXPECT_EQ(drives[1].letters, (std::vector<char>{'E', 'F'}));
    EXPECT_TRUE(drives[2].letters.empty());
}

TEST(DriveLabel, ProductAlreadyNamingItsVendorIsNotDoubled) {
    DeviceInfo d;
    d.vendor = "Acme";
    d.product = "ACME Pocket";
    EXPECT_EQ(drive_label(d), "ACME Pocket");
    d.product = "Pocket Drive";
    EXPECT_EQ(drive_label(d), "Acme Pocket Drive");
    d.vendor = "  ";
    EXPECT_EQ(drive_label(d), "Pocket Drive");
    d.product = "";
    EXPECT_EQ(drive_label(d), "USB drive");
    d.vendor = "Acme";
    EXPECT_EQ(drive_label(d), "Acme ");  // the template keeps its blank
}

TEST(Identity, DebugRenderingEscapesTexts) {
    DeviceInfo d;
    d.number = 4;
    d.instance_id = "USBSTOR\\DISK";
    d.serial = "a\"b";
    d.vendor = "V";
    d.product = "P";
    d.size = 8;
    d.letters = {'E'};
    EXPECT_EQ(debug_string(identity_of(d)),
              "DeviceIdentity { number: 4, instance_id: \"USBSTOR\\\\DISK\", serial: \"a\\\"b\", "
              "vendor: \"V\", product: \"P\", size: 8 }");
    DeviceInfo moved = d;
    moved.letters = {'F'};
    moved.usb_speed = UsbSpeed::High;
    moved.dev_inst = 99;
    EXPECT_EQ(identity_of(moved), identity_of(d));
    moved.serial = "A\"b";
    EXPECT_NE(identity_of(moved), identity_of(d));
}

// A recorded device tree: disk 10 -> USBSTOR 11 -> USB device 12 -> hub 13.
class RecordedTree : public UsbTopology {
  public:
    std::map<uint32_t, uint32_t> parents{{10, 11}, {11, 12}, {12, 13}};
    std::map<uint32_t, std::string> ids{{11, "USBSTOR\\DISK&VEN_X"},
                                        {12, "usb\\VID_0781&PID_5581\\4C53"},
                                        {13, "USB\\ROOT_HUB30\\4&1"}};
    std::optional<std::string> address = std::string("\x03\x00\x00\x00", 4);
    std::optional<std::string> info;
    std::optional<std::string> info_v2;
    std::vector<uint32_t> ports_asked;
    bool hub_opens = true;

    std::optional<uint32_t> parent(uint32_t d) override {
        auto it = parents.find(d);
        if (it == parents.end()) return std::nullopt;
        return it->second;
    }
    std::optional<std::string> device_id(uint32_t d) override {
        auto it = ids.find(d);
        if (it == ids.end()) return std::nullopt;
        return it->second;
    }
    std::optional<std::string> address_property(uint32_t d) override {
        return d == 12 ? address : std::nullopt;
    }
    std::optional<std::string> hub_interface(const std::string& id) override {
        if (id != ids[13]) return std::nullopt;
        return std::string("\\\\?\\usb#root_hub30#4&1#{f18a0e88-c30c-11d0-8815-00a0c906bed8}");
    }
    std::unique_ptr<UsbHub> open_hub(const std::string&) override;
};

class RecordedHub : public UsbHub {
  public:
    explicit RecordedHub(RecordedTree& t) : t_(t) {}
    std::optional<std::string> connection_info(uint32_t port) override {
        t_.ports_asked.push_back(port);
        return t_.info;
    }
    std::optional<std::string> connection_info_v2(uint32_t port) override {
        t_.ports_asked.push_back(port);
        return t_.info_v2;
    }

  private:
    RecordedTree& t_;
};

std::unique_ptr<UsbHub> RecordedTree::open_hub(const std::string&) {
    if (!hub_opens) return nullptr;
    return std::make_unique<RecordedHub>(*this);
}

std::string connection_info(uint8_t speed) {
    std::string b(512, '\0');
    b[23] = static_cast<char>(speed);
    return b.substr(0, 40);
}

std::string v2_flags(uint32_t flags) {
    std::string b;
    put32(b, 0, 3);
    put32(b, 4, 16);
    put32(b, 8, 7);
    put32(b, 12, flags);
    return b;
}

TEST(UsbSpeed, FromTheHubPortOfTheUsbAncestor) {
    RecordedTree tree;
    tree.info = connection_info(0);
    EXPECT_EQ(find_usb_speed(10, tree), UsbSpeed::Full);  // low speed reads as Full
    EXPECT_EQ(tree.ports_asked, (std::vector<uint32_t>{3}));
    tree.info = connection_info(1);
    EXPECT_EQ(find_usb_speed(10, tree), UsbSpeed::Full);
    tree.info = connection_info(2);
    EXPECT_EQ(find_usb_speed(10, tree), UsbSpeed::High);
    tree.info = connection_info(3);
    tree.info_v2 = v2_flags(0x1 | 0x2);
    EXPECT_EQ(find_usb_speed(10, tree), UsbSpeed::Super);
    tree.info_v2 = v2_flags(0x1 | 0x4);
    EXPECT_EQ(find_usb_speed(10, tree), UsbSpeed::SuperPlus);
    tree.info_v2 = std::nullopt;  // the second query failed
    EXPECT_EQ(find_usb_speed(10, tree), UsbSpeed::Super);
}

TEST(UsbSpeed, UnknownWheneverAStepFails) {
    RecordedTree tree;
    tree.info = connection_info(2);
    tree.address = std::string("\x03\x00", 2);
    EXPECT_FALSE(find_usb_speed(10, tree));
    tree.address = std::string("\x03\x00\x00\x00", 4);
    tree.hub_opens = false;
    EXPECT_FALSE(find_usb_speed(10, tree));
    tree.hub_opens = true;
    tree.info = std::nullopt;
    EXPECT_FALSE(find_usb_speed(10, tree));
    tree.info = std::string(23, '\0');  // too short to hold the speed
    EXPECT_FALSE(find_usb_speed(10, tree));

    // No USB device within six ancestors.
    RecordedTree deep;
    deep.info = connection_info(2);
    deep.parents = {{1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}, {6, 7}, {7, 12}, {12, 13}};
    for (uint32_t i = 2; i <= 7; ++i)
        deep.ids[i] = "SCSI\\X";
    EXPECT_FALSE(find_usb_speed(1, deep));
    deep.parents[6] = 12;  // the sixth ancestor is the USB device
    EXPECT_EQ(find_usb_speed(1, deep), UsbSpeed::High);
}

}  // namespace
}  // namespace sw
