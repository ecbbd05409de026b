#include "image/iso9660.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "support/test_images.h"

namespace sw {
namespace {

using test::load_test_image;

}  // namespace

void PrintTo(const ImageFile& f, std::ostream* os) {
    *os << "{" << f.path << " @" << f.offset << " +" << f.size << "}";
}

namespace {

using test::xorriso_files;

// ---- a small ISO 9660 writer for cases no mastering tool makes -------------

std::string le32(uint32_t v) {
    return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}
std::string be32(uint32_t v) {
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

// One directory record; `susp` is its System Use area.
std::string record(std::string_view name, uint32_t lba, uint32_t size, bool dir,
                   std::string_view susp = {}) {
    std::string r(33, '\0');
    r += name;
    if (name.size() % 2 == 0) r += '\0';
    r += susp;
    r[0] = static_cast<char>(r.size());
    r.replace(2, 8, le32(lba) + be32(lba));
    r.replace(10, 8, le32(size) + be32(size));
    r[25] = dir ? 2 : 0;
    r[32] = static_cast<char>(name.size());
    return r;
}
std::string dot(uint32_t lba, uint32_t size, std::string_view susp = {}) {
    return record(std::string(1, '\0'), lba, size, true, susp);
}
std::string dotdot(uint32_t lba, uint32_t size) {
    return record(std::string(1, '\1'), lba, size, true);
}
std::string nm(std::string_view name, uint8_t flags) {
    std::string e = "NM";
    e += static_cast<char>(5 + name.size());
    e += '\1';
    e += static_cast<char>(flags);
    e += name;
    return e;
}
const std::string kSp = std::string("SP\x07\x01\xBE\xEF", 6) + '\0';

struct SyntheticIso {
    std::string bytes;
    explicit SyntheticIso(size_t sectors = 40) : bytes(sectors * 2048, '\0') {}

    void put(uint32_t lba, std::string_view data) {
        if ((lba + 1) * 2048 + data.size() > bytes.size())
            bytes.resize(lba * 2048 + data.size() + 2048);
        bytes.replace(lba * 2048, data.size(), data);
    }
    // Sector 16: the PVD; sector 17: the terminator.
    void pvd(uint32_t root_lba, uint32_t root_size, std::string_view volume_id = "ORTIVEX_TEST",
             uint16_t block_size = 2048) {
        std::string d(2048, '\0');
        d[0] = 1;
        d.replace(1, 5, "CD001");
        d[6] = 1;
        std::string id(volume_id);
        id.resize(32, ' ');
        d.replace(40, 32, id);
        uint32_t blocks = static_cast<uint32_t>(bytes.size() / 2048);
        d.replace(80, 8, le32(blocks) + be32(blocks));
        d[128] = char(block_size);
        d[129] = char(block_size >> 8);
        d.replace(156, 34, record(std::string(1, '\0'), root_lba, root_size, true));
        put(16, d);
        std::string t(2048, '\0');
        t[0] = char(255);
        t.replace(1, 5, "CD001");
        put(17, t);
    }
    MemoryImageReader reader() const { return MemoryImageReader(bytes); }
};

// ---- real images mastered by xorriso ----------------------------------------

std::vector<ImageFile> sorted_nonempty(std::vector<ImageFile> files) {
    std::erase_if(files, [](const ImageFile& f) { return f.size == 0; });
    std::stable_sort(files.begin(), files.end(),
                     [](const ImageFile& a, const ImageFile& b) { return a.offset < b.offset; });
    return files;
}

ImageLayout layout_of(const std::string& bytes) {
    MemoryImageReader reader(bytes);
    auto layout = read_image_layout(reader);
    EXPECT_TRUE(layout.has_value()) << (layout ? "" : layout.error().debug());
    return layout ? *layout : ImageLayout{};
}

TEST(IsoReader, FileListsMatchWhatXorrisoReports) {
    // Rock Ridge names (spaces, accents, mixed case), plain ISO 9660 names
    // ("README.TXT;1", "LICENSE.;1"), an isolinux hybrid and a GPT layout.
    for (std::string name :
         {"unsigned.iso", "iso-names.iso", "foreign-hybrid.iso", "gpt.iso", "no-efi.iso"}) {
        SCOPED_TRACE(name);
        std::string image = load_test_image(name);
        ImageLayout layout = layout_of(image);
        auto expected = sorted_nonempty(xorriso_files(name));
        ASSERT_FALSE(expected.empty());
        // xorriso lists the El Torito boot catalog as a special file, not as data.
        std::erase_if(layout.files,
                      [](const ImageFile& f) { return f.path.ends_with("boot.cat"); });
        EXPECT_EQ(layout.files, expected);
        EXPECT_EQ(layout.volume_bytes % 2048, 0u);
        EXPECT_LE(layout.volume_bytes, image.size());
    }
    ImageLayout rr = layout_of(load_test_image("unsigned.iso"));
    EXPECT_EQ(rr.volume_id, "ORTIVEX_24_10");
    EXPECT_EQ(rr.susp_skip, 0);
    auto has = [&](const ImageLayout& l, std::string_view path) {
        return std::any_of(l.files.begin(), l.files.end(),
                           [&](const ImageFile& f) { return f.path == path; });
    };
    EXPECT_TRUE(has(rr, "docs/Release Notes (English).txt"));
    EXPECT_TRUE(has(rr, "docs/caf\u00e9-cr\u00e8me.txt"));
    EXPECT_FALSE(has(rr, "empty.txt"));  // zero-length files are dropped
    ImageLayout iso = layout_of(load_test_image("iso-names.iso"));
    EXPECT_TRUE(has(iso, "README.TXT"));
    EXPECT_TRUE(has(iso, "LICENSE"));
    EXPECT_TRUE(has(iso, "ORTIVEX/MEDIA.SUMS"));
    EXPECT_EQ(layout_of(load_test_image("foreign-hybrid.iso")).volume_id, "Debian 12.8.0 amd64 n");
}

TEST(IsoReader, BootFlagsOfRealLayouts) {
    struct Case {
        const char* name;
        BootFlags flags;  // mbr_partition, gpt, efi_partition, mbr_boot_code
    };
    const Case cases[] = {
        {"unsigned.iso", {true, false, true, true}},       // MBR + appended ESP (0xEF), active
        {"gpt.iso", {true, true, true, false}},            // protective MBR, ESP only in the GPT
        {"foreign-hybrid.iso", {true, true, true, true}},  // isolinux isohybrid with GPT
        {"no-efi.iso", {true, false, false, true}},        // a Linux partition, no ESP
        {"plain.iso", {false, false, false, false}},       // no system area at all
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(layout_of(load_test_image(c.name)).boot_flags, c.flags);
    }
}

TEST(IsoReader, WideAndDeepTreesAreCut) {
    std::string wide = load_test_image("wide.iso");
    ImageLayout w = layout_of(wide);
    EXPECT_EQ(w.files.size(), kMaxImageFiles);
    auto all = xorriso_files("wide.iso");
    EXPECT_GT(all.size(), kMaxImageFiles);
    std::map<std::string, ImageFile> by_path;
    for (const auto& f : all)
        by_path[f.path] = f;
    for (const auto& f : w.files) {
        ASSERT_TRUE(by_path.count(f.path)) << f.path;
        EXPECT_EQ(by_path[f.path], f);
    }
    EXPECT_TRUE(std::is_sorted(w.files.begin(), w.files.end(),
                               [](auto& a, auto& b) { return a.offset < b.offset; }));

    // level1/…/level8 are walked; level9 lies below depth 8 and is dropped.
    ImageLayout d = layout_of(load_test_image("deep.iso"));
    std::vector<ImageFile> expected;
    for (const auto& f : xorriso_files("deep.iso")) {
        if (std::count(f.path.begin(), f.path.end(), '/') <= 8) expected.push_back(f);
    }
    EXPECT_EQ(expected.size(), 8u);
    EXPECT_EQ(d.files, sorted_nonempty(expected));
}

TEST(IsoReader, PatchedRockRidgeAndSelfReference) {
    // Two NM pieces joined by CONTINUE, after an NM marked CURRENT.
    ImageLayout split = layout_of(load_test_image("split-nm.iso"));
    EXPECT_EQ(split.files, sorted_nonempty(xorriso_files("patched-base.iso")));

    // loop/inner points at loop itself: walked once, so inner's file is gone.
    ImageLayout self = layout_of(load_test_image("self-reference.iso"));
    std::vector<std::string> paths;
    for (const auto& f : self.files)
        paths.push_back(f.path);
    EXPECT_EQ(paths, (std::vector<std::string>{
                         "loop/seen.txt", "names/a-rather-long-rock-ridge-name.txt", "top.txt"}));
}

TEST(IsoReader, NotIsoCases) {
    // A file shorter than 64 KiB is refused without a single read.
    struct CountingReader final : ImageReader {
        mutable int reads = 0;
        uint64_t size() const override { return 65535; }
        Result<void, OsError> read_at(uint64_t, std::span<uint8_t>) const override {
            ++reads;
            return {};
        }
    } counting;
    auto r = read_image_layout(counting);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind, ValidationError::Kind::NotIso);
    EXPECT_EQ(counting.reads, 0);

    for (std::string name : {"short.bin", "not-iso.bin", "block4096.iso"}) {
        SCOPED_TRACE(name);
        std::string bytes = load_test_image(name);
        MemoryImageReader reader(bytes);
        auto l = read_image_layout(reader);
        ASSERT_FALSE(l);
        EXPECT_EQ(l.error().kind, ValidationError::Kind::NotIso);
    }

    // Descriptor rules: a terminator before the PVD, sixteen descriptors
    // without one, a block size other than 2048.
    SyntheticIso iso;
    iso.pvd(20, 2048);
    const std::string pvd_sector = iso.bytes.substr(16 * 2048, 2048);
    iso.bytes[16 * 2048] = 2;  // a supplementary descriptor, then the terminator
    auto t = read_image_layout(iso.reader());
    ASSERT_FALSE(t);
    EXPECT_EQ(t.error().kind, ValidationError::Kind::NotIso);
    for (int s = 16; s < 32; ++s) {
        iso.bytes[s * 2048] = 2;
        iso.bytes.replace(s * 2048 + 1, 5, "CD001");
    }
    auto sixteen = read_image_layout(iso.reader());
    ASSERT_FALSE(sixteen);
    EXPECT_EQ(sixteen.error().kind, ValidationError::Kind::NotIso);
    iso.put(31, pvd_sector);  // a PVD in the last examined sector is still found
    EXPECT_TRUE(read_image_layout(iso.reader()).has_value());
}

TEST(IsoReader, UnreadableRootOrBootAreaIsAnIoVerdict) {
    std::string bytes = load_test_image("root-beyond-end.iso");
    MemoryImageReader reader(bytes);
    auto l = read_image_layout(reader);
    ASSERT_FALSE(l);
    EXPECT_EQ(l.error(), ValidationError::io("unexpected end of file"));

    struct FailingHead final : ImageReader {
        MemoryImageReader inner;
        explicit FailingHead(const std::string& b) : inner(b) {}
        uint64_t size() const override { return inner.size(); }
        Result<void, OsError> read_at(uint64_t off, std::span<uint8_t> out) const override {
            if (off == 0) return unexpected(message_error("sector 0 unreadable"));
            return inner.read_at(off, out);
        }
    };
    std::string good = load_test_image("unsigned.iso");
    FailingHead failing(good);
    auto f = read_image_layout(failing);
    ASSERT_FALSE(f);
    EXPECT_EQ(f.error(), ValidationError::io("sector 0 unreadable"));
}

// ---- directory records --------------------------------------------------------

std::vector<DirectoryEntry> entries_of(const std::string& extent, uint8_t skip = 0) {
    SyntheticIso iso(8);
    iso.put(2, extent);
    auto r = read_directory(iso.reader(), 2 * 2048, static_cast<uint32_t>(extent.size()), skip);
    EXPECT_TRUE(r.has_value());
    return r ? *r : std::vector<DirectoryEntry>{};
}

std::vector<std::string> names_of(const std::vector<DirectoryEntry>& entries) {
    std::vector<std::string> out;
    for (const auto& e : entries)
        out.push_back(e.name);
    return out;
}

TEST(DirectoryRecords, IsoNamesLoseVersionAndTrailingDots) {
    std::string d = dot(2, 2048) + dotdot(2, 2048) + record("README.TXT;1", 30, 5, false) +
                    record("FOLDER.", 31, 2048, true) + record("A.B..;3", 32, 1, false) +
                    record("\xff\xfeX;1", 33, 1, false);
    auto e = entries_of(d);
    EXPECT_EQ(names_of(e), (std::vector<std::string>{"README.TXT", "FOLDER", "A.B",
                                                     "\xEF\xBF\xBD\xEF\xBF\xBDX"}));
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[0].offset, 30u * 2048);
    EXPECT_EQ(e[0].size, 5u);
    EXPECT_FALSE(e[0].is_directory);
    EXPECT_TRUE(e[1].is_directory);
}

TEST(DirectoryRecords, RockRidgeNames) {
    std::string d = dot(2, 2048);
    d += record("SPLIT.TXT;1", 30, 1, false, nm("first-", 1) + nm("second.txt", 0));
    d += record("CUR.TXT;1", 31, 1, false, nm("", 2) + nm("real-name", 0));
    d += record("PARENT.TXT;1", 32, 1, false, nm("", 4));
    d += record("BAD.TXT;1", 33, 1, false, nm("\xff", 0));
    d += record("SHORT.TXT;1", 34, 1, false, std::string("NM\x04\x01", 4));
    // An entry claiming more bytes than are left ends the SUSP walk.
    d += record("TRUNC.TXT;1", 35, 1, false, std::string("NM\x40\x01\x00zz", 7));
    // Other entries before NM are skipped by their length.
    d += record("PX.TXT;1", 36, 1, false,
                std::string("PX\x0c\x01", 4) + std::string(8, 'x') + nm("after-px", 0));
    // Complete at the first NM without CONTINUE: later NM entries are ignored.
    d += record("TWO.TXT;1", 37, 1, false, nm("one", 0) + nm("two", 0));
    EXPECT_EQ(names_of(entries_of(d)),
              (std::vector<std::string>{"first-second.txt", "real-name", "PARENT.TXT", "BAD.TXT",
                                        "SHORT.TXT", "TRUNC.TXT", "after-px", "one"}));

    // With a SUSP skip, the System Use area starts that many bytes later.
    std::string skipped = record("SKIP.TXT;1", 30, 1, false, std::string("xyz") + nm("skipped", 0));
    EXPECT_EQ(names_of(entries_of(skipped, 3)), std::vector<std::string>{"skipped"});
    EXPECT_EQ(names_of(entries_of(skipped, 0)), std::vector<std::string>{"SKIP.TXT"});
}

TEST(DirectoryRecords, PaddingShortRecordsAndRecordsPastTheEnd) {
    std::string d = record("A;1", 30, 1, false);
    d.resize(2048, '\0');  // zero length byte: continue at the next sector
    d += record("B;1", 31, 1, false);
    std::string tiny(33, '\0');
    tiny[0] = 33;  // 33 bytes or less: skipped
    d += tiny;
    std::string lying = record("C;1", 32, 1, false);
    lying[32] = 100;  // name longer than the record: skipped
    d += lying;
    EXPECT_EQ(names_of(entries_of(d)), (std::vector<std::string>{"A", "B"}));

    std::string past = record("D;1", 30, 1, false) + record("E;1", 31, 1, false);
    std::string cut = past.substr(0, past.size() - 3);  // E runs past the end: the walk ends
    EXPECT_EQ(names_of(entries_of(cut)), std::vector<std::string>{"D"});
}

TEST(DirectoryRecords, LimitsAndReadErrors) {
    SyntheticIso iso(8);
    auto big = read_directory(iso.reader(), 0, kMaxDirectoryBytes + 1, 0);
    ASSERT_FALSE(big);
    EXPECT_EQ(big.error(), "directory too large");
    auto beyond = read_directory(iso.reader(), 7 * 2048, 4096, 0);
    ASSERT_FALSE(beyond);
    EXPECT_EQ(beyond.error(), "unexpected end of file");
    auto huge_offset = read_directory(iso.reader(), UINT64_MAX - 10, 2048, 0);
    EXPECT_FALSE(huge_offset);
}

// ---- boot layout ----------------------------------------------------------------

struct BootArea {
    std::vector<uint8_t> b = std::vector<uint8_t>(32768, 0);
    void signature() {
        b[510] = 0x55;
        b[511] = 0xAA;
    }
    void entry(int i, uint8_t boot, uint8_t type, uint32_t sectors) {
        uint8_t* e = b.data() + 446 + 16 * i;
        e[0] = boot;
        e[4] = type;
        std::memcpy(e + 12, le32(sectors).data(), 4);
    }
    void gpt(uint64_t lba, uint32_t count, uint32_t size) {
        std::memcpy(b.data() + 512, "EFI PART", 8);
        for (int i = 0; i < 8; ++i)
            b[512 + 72 + i] = uint8_t(lba >> (8 * i));
        std::memcpy(b.data() + 512 + 80, le32(count).data(), 4);
        std::memcpy(b.data() + 512 + 84, le32(size).data(), 4);
    }
    void esp_guid_at(size_t at) {
        const uint8_t g[16] = {0x28, 0x73, 0x2A, 0xC1, 0x1F, 0xF8, 0xD2, 0x11,
                               0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B};
        std::memcpy(b.data() + at, g, 16);
    }
    BootFlags flags() const { return read_boot_flags(b); }
};

TEST(BootLayout, MbrRules) {
    BootArea a;
    a.entry(0, 0x80, 0xEF, 100);
    a.b[0] = 0xEB;
    EXPECT_EQ(a.flags(), BootFlags{});  // no 55 AA: entries are not examined
    a.signature();
    EXPECT_EQ(a.flags(), (BootFlags{true, false, true, true}));
    a.b[0] = 0;  // boot code all zero
    EXPECT_FALSE(a.flags().mbr_boot_code);
    a.b[439] = 1;
    EXPECT_TRUE(a.flags().mbr_boot_code);
    a.entry(0, 0x81, 0xEF, 100);  // boot indicator must be exactly 0x80
    EXPECT_FALSE(a.flags().mbr_boot_code);
    a.entry(0, 0x80, 0xEF, 0);  // no sectors: neither partition nor ESP nor boot
    EXPECT_EQ(a.flags(), BootFlags{});
    a.entry(3, 0x00, 0xEE, 0);  // 0xEE marks GPT with any sector count
    EXPECT_EQ(a.flags(), (BootFlags{false, true, false, false}));
}

TEST(BootLayout, ProtectiveMbrWithGptEsp) {
    BootArea a;
    a.signature();
    a.entry(0, 0, 0xEE, 0xFFFFFFFF);
    a.gpt(2, 128, 128);
    EXPECT_EQ(a.flags(), (BootFlags{true, true, false, false}));
    a.esp_guid_at(2 * 512 + 5 * 128);
    EXPECT_EQ(a.flags(), (BootFlags{true, true, true, false}));

    // Entries are looked at only with 1..256 entries of 128..512 bytes, and
    // only as far as the first 32 KiB reach.
    BootArea b;
    b.gpt(2, 257, 128);
    b.esp_guid_at(1024);
    EXPECT_FALSE(b.flags().efi_partition);
    b.gpt(2, 1, 127);
    EXPECT_FALSE(b.flags().efi_partition);
    b.gpt(2, 1, 128);
    EXPECT_TRUE(b.flags().efi_partition);
    EXPECT_TRUE(b.flags().gpt);
    BootArea c;
    c.gpt(63, 256, 512);  // only entry 0 (at 32256) fits in the first 32 KiB
    EXPECT_FALSE(c.flags().efi_partition);
    c.esp_guid_at(63 * 512);
    EXPECT_TRUE(c.flags().efi_partition);
    c.gpt(64, 256, 512);  // the table starts right after the buffer
    EXPECT_FALSE(c.flags().efi_partition);
    BootArea d;
    d.gpt(UINT64_MAX / 256, 4, 128);  // an LBA whose byte offset would overflow
    EXPECT_FALSE(d.flags().efi_partition);
}

// ---- walk bounds and lookup ------------------------------------------------------

TEST(DirectoryWalk, CyclesAndFanOutStayBounded) {
    // Root (lba 20) lists "a" pointing at root itself, "b" pointing at c, and
    // c lists 20,000 subdirectories that all point back at the root. The walk
    // must end quickly with bounded depth and at most 4096 files.
    SyntheticIso iso(24);
    std::string c = dot(22, 0);
    const std::string sub = record("S", 20, 2048, true);
    while (c.size() < 20000 * sub.size())
        c += sub;
    iso.put(22, c);
    iso.put(20, dot(20, 2048) + dotdot(20, 2048) + record("A", 20, 2048, true) +
                    record("B", 22, static_cast<uint32_t>(c.size()), true) +
                    record("F.TXT;1", 23, 10, false));
    iso.pvd(20, 2048);
    auto l = read_image_layout(iso.reader());
    ASSERT_TRUE(l) << l.error().debug();
    EXPECT_LE(l->files.size(), kMaxImageFiles);
    EXPECT_GT(l->files.size(), 1u);
    for (const auto& f : l->files) {
        EXPECT_LE(std::count(f.path.begin(), f.path.end(), '/'), 8) << f.path;
        EXPECT_TRUE(f.path.ends_with("F.TXT")) << f.path;
    }
}

TEST(FindImageFile, LookupRules) {
    std::string bytes = load_test_image("unsigned.iso");
    MemoryImageReader reader(bytes);
    ImageLayout layout = layout_of(bytes);
    auto find = [&](std::vector<std::string_view> path) {
        return find_image_file(reader, layout, path);
    };
    auto sums = find({"ORTIVEX", "media.sums"});
    ASSERT_TRUE(sums);
    ASSERT_TRUE(*sums);
    EXPECT_EQ((*sums)->size, 4096u);
    for (const auto& f : xorriso_files("unsigned.iso")) {
        if (f.path == "ortivex/MEDIA.SUMS") {
            EXPECT_EQ((*sums)->offset, f.offset);
        }
    }
    EXPECT_FALSE(*find({"ortivex"}));               // a directory is not a file
    EXPECT_FALSE(*find({"README.TXT", "x"}));       // a file is not a directory
    EXPECT_FALSE(*find({"ortivex", "MEDIA.SUM"}));  // equal length required
    EXPECT_FALSE(*find({"ortivex", "MEDIA.SUMS", ""}));
    EXPECT_FALSE(*find({}));

    // A found file whose extent lies outside the image is an I/O error.
    std::string cut = bytes.substr(0, (*sums)->offset + 100);
    MemoryImageReader short_reader(cut);
    const std::string_view path[] = {"ortivex", "MEDIA.SUMS"};
    auto outside = find_image_file(short_reader, layout, path);
    ASSERT_FALSE(outside);
    EXPECT_EQ(outside.error(), "file extent outside the image");
}

}  // namespace
}  // namespace sw
