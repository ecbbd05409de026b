#include "image/validation.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/paths.h"
#include "core/text.h"
#include "hex/hex.h"
#include "logging/logger.h"
#include "support/fake_clock.h"
#include "support/log_capture.h"
#include "support/recording_sink.h"
#include "support/temp_dir.h"
#include "support/test_images.h"

namespace sw {
namespace {

using K = ValidationError::Kind;
using test::load_test_image;
using test::test_image_path;

std::string verdict_of(const std::string& bytes) {
    MemoryImageReader reader(bytes);
    auto r = inspect_image(reader);
    return r ? (r->is_signed() ? "signed" : "unsigned") : r.error().debug();
}

TEST(ValidationError, MessagesAndDiagnostics) {
    struct Case {
        ValidationError e;
        const char* message;
        const char* debug;
    };
    const Case cases[] = {
        {ValidationError::io("disk \"gone\""), "read error: disk \"gone\"",
         "Io(\"disk \\\"gone\\\"\")"},
        {ValidationError::of(K::NotIso), "not an ISO 9660 image", "NotIso"},
        {ValidationError::of(K::NotOrtivex), "volume is not a Ortivex image", "NotOrtivex"},
        {ValidationError::of(K::NotBootable), "no hybrid MBR/EFI layout: not bootable from USB",
         "NotBootable"},
        {ValidationError::of(K::BadSignature), "media signature does not verify", "BadSignature"},
        {ValidationError::size_mismatch(100, 90), "size 90 differs from signed size 100",
         "SizeMismatch { expected: 100, actual: 90 }"},
        {ValidationError::of(K::Corrupted), "image hash differs from the signed hash", "Corrupted"},
        {ValidationError::malformed("sha256"), "malformed media signature block: sha256",
         "Malformed(\"sha256\")"},
        {ValidationError::of(K::Cancelled), "cancelled", "Cancelled"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.e.message(), c.message);
        EXPECT_EQ(c.e.debug(), c.debug);
    }
}

TEST(BuildFromVersion, Rules) {
    EXPECT_EQ(build_from_version("24.10.3118-rc1"), "3118");
    EXPECT_EQ(build_from_version("24.10.3118"), "3118");
    EXPECT_EQ(build_from_version("1.2.3.4+meta.5"), "4");
    EXPECT_EQ(build_from_version("1.2.3+x-y"), "3");
    EXPECT_EQ(build_from_version("24.10"), std::nullopt);
    EXPECT_EQ(build_from_version("24.10-1.2.3"), std::nullopt);
    EXPECT_EQ(build_from_version("24.10."), std::nullopt);
    EXPECT_EQ(build_from_version("24.10.31a8"), std::nullopt);
    EXPECT_EQ(build_from_version(""), std::nullopt);
    EXPECT_EQ(build_from_version("..7"), "7");
}

TEST(Inspection, EveryVerdictOfTheMasteredImages) {
    struct Case {
        const char* image;
        std::string verdict;
    };
    auto volume = test::image_fact("unsigned.iso", "volume_bytes").value_or(0);
    const Case cases[] = {
        {"signed.iso", "signed"},
        {"gpt-signed.iso", "signed"},
        {"unsigned.iso", "unsigned"},
        {"unsigned-longer.iso", "unsigned"},
        {"gpt.iso", "unsigned"},
        {"iso-names.iso", "unsigned"},
        {"wide.iso", "unsigned"},
        {"short.bin", "NotIso"},
        {"not-iso.bin", "NotIso"},
        {"block4096.iso", "NotIso"},
        {"root-beyond-end.iso", "Io(\"unexpected end of file\")"},
        {"block-beyond-end.iso", "Io(\"file extent outside the image\")"},
        {"foreign-hybrid.iso", "NotOrtivex"},
        {"plain.iso", "NotBootable"},
        {"no-efi.iso", "NotBootable"},
        {"no-efi-signed.iso", "NotBootable"},  // even though its signature verifies
        {"signed-manifest-changed.iso", "BadSignature"},
        {"signed-padding-changed.iso", "Malformed(\"trailing data\")"},
        {"signed-truncated.iso", fmt("SizeMismatch { expected: {}, actual: {} }",
                                     test::load_test_image("signed.iso").size(),
                                     test::load_test_image("signed.iso").size() - 2048)},
        {"unsigned-truncated.iso",
         fmt("SizeMismatch { expected: {}, actual: {} }", volume, volume - 1)},
        // The inspection does not hash: this one is refused by the content check.
        {"signed-content-changed.iso", "signed"},
    };
    if (!media_key_is_development())
        GTEST_SKIP() << "test images are signed with the development key";
    for (const auto& c : cases) {
        EXPECT_EQ(verdict_of(load_test_image(c.image)), c.verdict) << c.image;
    }
}

TEST(Inspection, SignedImageFacts) {
    if (!media_key_is_development())
        GTEST_SKIP() << "test images are signed with the development key";
    std::string bytes = load_test_image("signed.iso");
    MemoryImageReader reader(bytes);
    auto insp = inspect_image(reader);
    ASSERT_TRUE(insp) << insp.error().debug();
    uint64_t block = test::image_fact("signed.iso", "block_offset").value_or(0);
    EXPECT_EQ(insp->signature, (SignatureLocation{block, 4096}));
    EXPECT_EQ(insp->capture_region(), (CaptureRegion{block, 4096}));
    EXPECT_EQ(insp->block,
              std::vector<uint8_t>(bytes.begin() + block, bytes.begin() + block + 4096));
    EXPECT_EQ(insp->version, "24.10.3118");
    EXPECT_EQ(insp->build, "3118");
    EXPECT_EQ(insp->image_size, bytes.size());
    EXPECT_EQ(insp->volume_id, "ORTIVEX_24_10");
    EXPECT_EQ(insp->boot_flags, (BootFlags{true, false, true, true}));
    EXPECT_FALSE(insp->files.empty());
    ASSERT_TRUE(insp->manifest);
    EXPECT_EQ(insp->manifest->size, bytes.size());
    EXPECT_EQ(insp->manifest->architecture, "x86_64");
    EXPECT_EQ(hex_encode(*insp->expected_digest()), insp->manifest->sha256);
    EXPECT_EQ(inspection_summary(*insp),
              fmt("signed size={} version=24.10.3118 uefi=true bios=true", bytes.size()));

    std::atomic<bool> cancel{false};
    EXPECT_TRUE(verify_image_content(reader, *insp, cancel));
    std::string changed = load_test_image("signed-content-changed.iso");
    MemoryImageReader changed_reader(changed);
    auto c = verify_image_content(changed_reader, *insp, cancel);
    ASSERT_FALSE(c);
    EXPECT_EQ(c.error().kind, K::Corrupted);
}

TEST(Inspection, UnsignedImageFacts) {
    std::string bytes = load_test_image("unsigned.iso");
    MemoryImageReader reader(bytes);
    auto insp = inspect_image(reader);
    ASSERT_TRUE(insp) << insp.error().debug();
    EXPECT_FALSE(insp->is_signed());
    EXPECT_FALSE(insp->signature);
    EXPECT_FALSE(insp->capture_region());
    EXPECT_FALSE(insp->expected_digest());
    EXPECT_TRUE(insp->block.empty());
    EXPECT_EQ(insp->version, "24.10.3118-rc1");
    EXPECT_EQ(insp->build, "3118");
    std::string wide = load_test_image("wide.iso");
    MemoryImageReader wide_reader(wide);
    auto w = inspect_image(wide_reader);
    ASSERT_TRUE(w);
    EXPECT_EQ(w->version, "24.10");
    EXPECT_EQ(w->build, std::nullopt);
    EXPECT_EQ(w->version_text(), "24.10");
    std::string deep = load_test_image("deep.iso");
    MemoryImageReader deep_reader(deep);
    auto d = inspect_image(deep_reader);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->version, std::nullopt);
    EXPECT_EQ(d->version_text(), "unknown");
}

TEST(Inspection, VolumeIdentifierRule) {
    std::string bytes = load_test_image("unsigned.iso");
    auto with_id = [&](std::string id) {
        std::string copy = bytes;
        id.resize(32, ' ');
        copy.replace(32768 + 40, 32, id);
        return verdict_of(copy);
    };
    EXPECT_EQ(with_id("ortivex_24"), "unsigned");
    EXPECT_EQ(with_id("OrTiVeX"), "unsigned");
    EXPECT_EQ(with_id("ORTIVE"), "NotOrtivex");
    EXPECT_EQ(with_id("MY_ORTIVEX"), "NotOrtivex");
    EXPECT_EQ(with_id(""), "NotOrtivex");
}

// ---- signed blocks written into the unsigned image's placeholder ------------------

struct Placeholder {
    std::string bytes = load_test_image("unsigned.iso");
    uint64_t block = 0;
    Placeholder() {
        MemoryImageReader reader(bytes);
        auto layout = read_image_layout(reader);
        EXPECT_TRUE(layout);
        const std::string_view path[] = {"ortivex", "MEDIA.SUMS"};
        auto found = find_image_file(reader, *layout, path);
        EXPECT_TRUE(found && *found);
        block = (*found)->offset;
    }
    // The image's digest with the block as zeros.
    std::string digest() const {
        std::string copy = bytes;
        std::memset(copy.data() + block, 0, 4096);
        return hex_encode(sha256_in_process(
            std::span(reinterpret_cast<const uint8_t*>(copy.data()), copy.size())));
    }
    std::string manifest(uint64_t size, uint64_t sums_offset, const std::string& sha,
                         const std::string& product = "Ortivex") const {
        return fmt(
            "{\"product\":\"{}\",\"version\":\"25.04.4000\",\"build\":\"4000\","
            "\"architecture\":\"x86_64\",\"channel\":\"beta\",\"created\":\"now\","
            "\"size\":{},\"sha256\":\"{}\",\"sums_offset\":{},\"sums_len\":4096}",
            product, size, sha, sums_offset);
    }
    // Writes a block signed with the development key (or with `sig` as given).
    std::string with_block(const std::string& manifest_line,
                           std::optional<Ed25519Signature> sig = std::nullopt) const {
        std::string message = signed_message(manifest_line);
        if (!sig) {
            sig = ed25519_sign(
                test::development_seed(),
                std::span(reinterpret_cast<const uint8_t*>(message.data()), message.size()));
        }
        std::string b = message + "\ned25519 " + hex_encode(*sig) + "\n";
        b.resize(4096, ' ');
        std::string copy = bytes;
        copy.replace(block, 4096, b);
        return copy;
    }
};

TEST(Inspection, SignedVerdictsInTheirOrder) {
    if (!media_key_is_development()) GTEST_SKIP() << "signs with the development key";
    Placeholder p;
    const uint64_t size = p.bytes.size();
    const std::string sha = p.digest();

    std::string good = p.with_block(p.manifest(size, p.block, sha));
    EXPECT_EQ(verdict_of(good), "signed");
    MemoryImageReader good_reader(good);
    auto insp = inspect_image(good_reader);
    ASSERT_TRUE(insp);
    EXPECT_EQ(insp->version, "25.04.4000");
    std::atomic<bool> cancel{false};
    EXPECT_TRUE(verify_image_content(good_reader, *insp, cancel));

    EXPECT_EQ(verdict_of(p.with_block(p.manifest(size, p.block + 2048, sha))),
              "Malformed(\"signature block location\")");
    EXPECT_EQ(verdict_of(p.with_block(p.manifest(size + 1, p.block, sha))),
              fmt("SizeMismatch { expected: {}, actual: {} }", size + 1, size));
    EXPECT_EQ(verdict_of(p.with_block(p.manifest(size, p.block, sha, "Other"))),
              "Malformed(\"product\")");
    EXPECT_EQ(verdict_of(p.with_block("not json at all")), "Malformed(\"manifest is not JSON\")");
    // The signature is checked first: a bad one with a wrong size is BadSignature.
    Ed25519Signature zero{};
    EXPECT_EQ(verdict_of(p.with_block(p.manifest(size + 1, p.block, sha), zero)), "BadSignature");
    // A signature whose S half is S + L.
    std::string line = p.manifest(size, p.block, sha);
    std::string msg = signed_message(line);
    auto sig = ed25519_sign(test::development_seed(),
                            std::span(reinterpret_cast<const uint8_t*>(msg.data()), msg.size()));
    const uint8_t order[32] = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7,
                               0xa2, 0xde, 0xf9, 0xde, 0x14, 0,    0,    0,    0,    0,    0,
                               0,    0,    0,    0,    0,    0,    0,    0,    0,    0x10};
    unsigned carry = 0;
    for (int i = 0; i < 32; ++i) {
        unsigned s = sig[32 + i] + order[i] + carry;
        sig[32 + i] = static_cast<uint8_t>(s);
        carry = s >> 8;
    }
    EXPECT_EQ(verdict_of(p.with_block(line, sig)), "BadSignature");
    // A block the size of the ESP-less image would still need a bootable layout:
    // covered by no-efi-signed.iso.
}

TEST(Inspection, SignatureFileOfAnotherSizeMeansUnsigned) {
    // Point the MEDIA.SUMS record at 4095 and 4097 bytes: the block is then
    // not looked at, and the image is judged as unsigned.
    std::string bytes = load_test_image("signed.iso");
    MemoryImageReader reader(bytes);
    auto layout = read_image_layout(reader);
    ASSERT_TRUE(layout);
    const std::string_view dir_path[] = {"ortivex"};
    (void)dir_path;
    auto root = read_directory(reader, layout->root_offset, layout->root_size, 0);
    ASSERT_TRUE(root);
    auto dir = std::find_if(root->begin(), root->end(),
                            [](const DirectoryEntry& e) { return e.name == "ortivex"; });
    ASSERT_NE(dir, root->end());
    // Find the record whose Rock Ridge name is MEDIA.SUMS inside that extent.
    uint64_t pos = dir->offset, end = dir->offset + dir->size, record = 0;
    while (pos < end && bytes[pos] != 0) {
        size_t len = static_cast<uint8_t>(bytes[pos]);
        if (std::string_view(bytes).substr(pos, len).find("MEDIA.SUMS") != std::string_view::npos) {
            record = pos;
        }
        pos += len;
    }
    ASSERT_NE(record, 0u);
    for (uint32_t size : {4095u, 4097u}) {
        std::string copy = bytes;
        for (int i = 0; i < 4; ++i) {
            copy[record + 10 + i] = static_cast<char>(size >> (8 * i));
            copy[record + 17 - i] = static_cast<char>(size >> (8 * i));
        }
        EXPECT_EQ(verdict_of(copy), "unsigned") << size;
    }
}

// ---- the validation worker -----------------------------------------------------------

// Every line logged so far, one after another.
struct LogCapture : test::LogCapture {
    std::string text() {
        std::string out;
        for (const auto& line : lines())
            out += line + "\n";
        return out;
    }
};

const ImageInspected* inspected(const ValidationReport& m) {
    return std::get_if<ImageInspected>(&m);
}
const ImageContentChecked* checked(const ValidationReport& m) {
    return std::get_if<ImageContentChecked>(&m);
}

TEST(ValidationWorker, SignedImageReportsInspectionThenContent) {
    if (!media_key_is_development())
        GTEST_SKIP() << "test images are signed with the development key";
    LogCapture log;
    test::Recorder<ValidationReport> sink;
    ValidationProgress progress;
    progress.done = 77;
    std::atomic<bool> cancel{false};
    test::FakeClock clock;
    const std::string path = test_image_path("signed.iso");
    run_validation({path, 41, std::nullopt}, open_image_file(path), sink.reporter(), progress,
                   cancel, clock);
    auto msgs = sink.messages();
    ASSERT_EQ(msgs.size(), 2u);
    ASSERT_TRUE(inspected(msgs[0]));
    EXPECT_EQ(inspected(msgs[0])->request_number, 41u);
    EXPECT_EQ(inspected(msgs[0])->path, path);
    ASSERT_TRUE(inspected(msgs[0])->result);
    EXPECT_TRUE(inspected(msgs[0])->result->is_signed());
    ASSERT_TRUE(checked(msgs[1]));
    EXPECT_EQ(checked(msgs[1])->request_number, 41u);
    EXPECT_TRUE(checked(msgs[1])->result);
    const uint64_t size = inspected(msgs[0])->result->image_size;
    EXPECT_EQ(progress.total.load(), size);
    EXPECT_EQ(progress.done.load(), size);
    std::string text = log.text();
    EXPECT_NE(text.find(fmt("INFO  image {}: signed size={} version=24.10.3118 uefi=true bios=true",
                            path, size)),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("INFO  image content check: ok in "), std::string::npos) << text;
}

TEST(ValidationWorker, DownloadDigestSkipsTheSecondPass) {
    if (!media_key_is_development())
        GTEST_SKIP() << "test images are signed with the development key";
    std::string bytes = load_test_image("signed.iso");
    MemoryImageReader reader(bytes);
    auto insp = inspect_image(reader);
    ASSERT_TRUE(insp);
    const Sha256Digest digest = *insp->expected_digest();

    LogCapture log;
    test::Recorder<ValidationReport> sink;
    ValidationProgress progress;
    std::atomic<bool> cancel{true};  // would stop a content check at once
    test::FakeClock clock;
    run_validation({test_image_path("signed.iso"), 3, digest},
                   open_image_file(test_image_path("signed.iso")), sink.reporter(), progress,
                   cancel, clock);
    auto msgs = sink.messages();
    ASSERT_EQ(msgs.size(), 2u);
    ASSERT_TRUE(checked(msgs[1]));
    EXPECT_TRUE(checked(msgs[1])->result);
    EXPECT_EQ(progress.total.load(), 0u);  // the content check never started
    EXPECT_NE(log.text().find("INFO  image content already verified during download"),
              std::string::npos);

    // A digest that does not match is ignored: the image is read, and here
    // the cancel flag stops that.
    Sha256Digest other = digest;
    other[0] ^= 1;
    test::Recorder<ValidationReport> sink2;
    run_validation({test_image_path("signed.iso"), 4, other},
                   open_image_file(test_image_path("signed.iso")), sink2.reporter(), progress,
                   cancel, clock);
    auto msgs2 = sink2.messages();
    ASSERT_EQ(msgs2.size(), 2u);
    ASSERT_TRUE(checked(msgs2[1]));
    ASSERT_FALSE(checked(msgs2[1])->result);
    EXPECT_EQ(checked(msgs2[1])->result.error().kind, K::Cancelled);
    EXPECT_NE(log.text().find("INFO  image content check: cancelled in "), std::string::npos);
}

TEST(ValidationWorker, RefusalsAndUnsignedImagesEndWithTheInspection) {
    LogCapture log;
    std::atomic<bool> cancel{false};
    test::FakeClock clock;
    ValidationProgress progress;
    struct Case {
        std::string path;
        std::optional<K> refused;
    };
    test::TempDir tmp;
    const Case cases[] = {
        {test_image_path("unsigned.iso"), std::nullopt},
        {test_image_path("foreign-hybrid.iso"), K::NotOrtivex},
        {utf8_of(tmp / "missing.iso"), K::Io},
        {utf8_of(tmp.path()), K::Io},
    };
    for (const auto& c : cases) {
        test::Recorder<ValidationReport> sink;
        run_validation({c.path, 9, std::nullopt}, open_image_file(c.path), sink.reporter(),
                       progress, cancel, clock);
        auto msgs = sink.messages();
        ASSERT_EQ(msgs.size(), 1u) << c.path;
        ASSERT_TRUE(inspected(msgs[0]));
        EXPECT_EQ(inspected(msgs[0])->path, c.path);
        const auto& result = inspected(msgs[0])->result;
        EXPECT_EQ(result.has_value(), !c.refused) << c.path;
        if (c.refused && !result) {
            EXPECT_EQ(result.error().kind, *c.refused);
        }
    }
    std::string text = log.text();
    EXPECT_NE(text.find(fmt("image {}: refused: volume is not a Ortivex image",
                            test_image_path("foreign-hybrid.iso"))),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(fmt("image {}: refused: read error: is a directory", utf8_of(tmp.path()))),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("unsigned size="), std::string::npos);
}

TEST(ValidationWorker, ReportsCorruptionWithItsRequestNumber) {
    if (!media_key_is_development())
        GTEST_SKIP() << "test images are signed with the development key";
    test::Recorder<ValidationReport> sink;
    ValidationProgress progress;
    std::atomic<bool> cancel{false};
    run_validation({test_image_path("signed-content-changed.iso"), 12, {}},
                   open_image_file(test_image_path("signed-content-changed.iso")), sink.reporter(),
                   progress, cancel, real_clock());
    auto msgs = sink.messages();
    ASSERT_EQ(msgs.size(), 2u);
    ASSERT_TRUE(checked(msgs[1]));
    EXPECT_EQ(checked(msgs[1])->request_number, 12u);
    ASSERT_FALSE(checked(msgs[1])->result);
    EXPECT_EQ(checked(msgs[1])->result.error().kind, K::Corrupted);
}

}  // namespace
}  // namespace sw
