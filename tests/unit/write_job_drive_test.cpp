// The whole write job on simulated USB drives through the platform's own
// transfer engine (io_uring on Linux, overlapped requests under wine): a
// signed test image written byte for byte, and every fault a drive can
// show, each ending with its text and the drive's first 64 KiB still zero.
#ifdef ORTIVEX_SIMULATED_DRIVES

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "core/paths.h"
#include "disk/drives.h"
#include "disk/simulated/backing.h"
#include "disk/simulated/simulated.h"
#include "image/crypto.h"
#include "image/validation.h"
#include "support/drive_world.h"
#include "support/machine.h"
#include "support/simulated_stick.h"
#include "support/temp_dir.h"
#include "support/test_images.h"

namespace sw {
namespace {

namespace fs = std::filesystem;
using test::DriveWorld;

using test::MiB;

#ifdef _WIN32
constexpr int kIoErrorCode = 1117;  // ERROR_IO_DEVICE
#else
constexpr int kIoErrorCode = 5;  // EIO
#endif

std::string simulated_text(platform::SimulatedError e) {
    return platform::simulated_error(e).text;
}

using test::count_lines;

class SimulatedWrite : public test::SimulatedStickTest {
  public:
    void SetUp() override {
        SimulatedStickTest::SetUp();
        image_file = dir / "ortivex.iso";
        image = test::load_test_image("signed.iso");
        test::write_file(image_file, image);
        auto reader = open_image_file(utf8_of(image_file));
        ASSERT_TRUE(reader);
        auto inspection = inspect_image(**reader);
        ASSERT_TRUE(inspection);
        facts = image_facts_of(*inspection);
        ASSERT_TRUE(facts.expected_digest);
        ASSERT_GT(image.size(), 3 * MiB);
    }

    // A simulated drive backed by a zero-filled file, and its listed record.
    DeviceInfo attach(const std::string& settings, uint64_t size = 16 * MiB) {
        return SimulatedStickTest::attach(settings, size);
    }

    WriteRequest request_for(const DeviceInfo& drive) {
        WriteRequest r;
        r.image = facts;
        r.image_path = utf8_of(image_file);
        r.drive = drive;
        r.chunk_size = MiB;  // several buffers even for a small image
        return r;
    }

    Sha256Digest image_digest_with_block_zeroed() {
        std::string copy = image;
        std::fill_n(copy.begin() + static_cast<ptrdiff_t>(facts.capture->offset),
                    facts.capture->length, '\0');
        return sha256_in_process(
            std::span(reinterpret_cast<const uint8_t*>(copy.data()), copy.size()));
    }

    fs::path image_file;
    std::string image;
    ImageFacts facts;
    std::shared_ptr<DriveWorld> world = std::make_shared<DriveWorld>();
};

TEST_F(SimulatedWrite, ASignatureBlockChangedAfterValidationIsRefused) {
    // The hash sees the signature block as zeros, so a block swapped after
    // validation leaves the digest as signed: only the block itself tells.
    DeviceInfo drive = attach("");
    std::string swapped = image;
    swapped[static_cast<size_t>(facts.capture->offset) + 100] ^= 0x5A;
    test::write_file(image_file, swapped);
    auto result = run_write_job(request_for(drive), test::machine_of(world));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().text(), "image bytes differ from the signed hash");
    // Nothing that could boot was left behind.
    EXPECT_TRUE(stick_zero(0, 65536));
}

TEST_F(SimulatedWrite, TheDriveHoldsTheImageByteForByte) {
    DeviceInfo drive = attach("");
    WriteRequest request = request_for(drive);
    request.eject_when_done = true;
    auto result = run_write_job(request, test::machine_of(world));
    ASSERT_TRUE(result) << result.error().text() << "\n" << log();
    EXPECT_EQ(stick(0, image.size()), image);
    EXPECT_TRUE(stick_zero(image.size(), 16 * MiB - image.size()));
    EXPECT_EQ(result->pipeline.digest, image_digest_with_block_zeroed());
    EXPECT_EQ(result->pipeline.digest, *facts.expected_digest);
    EXPECT_EQ(result->pipeline.bytes_written, (image.size() + 511) / 512 * 512);
    EXPECT_TRUE(result->pipeline.verified);
    ASSERT_TRUE(result->eject);
    EXPECT_EQ(world->events(), std::vector<std::string>{"eject"});
    std::string text = log();
    EXPECT_NE(text.find(" ms: write test passed (read "), std::string::npos) << text;
    EXPECT_NE(text.find("INFO  phase Verifying: drive re-identified (same drive)"),
              std::string::npos);
    EXPECT_EQ(count_lines(text, " WARN  "), 0u);
}

TEST_F(SimulatedWrite, ASecondJobOnTheDriveIsInUseAndTheFirstWritesOn) {
    DeviceInfo drive = attach("");
    std::optional<WriteResult> second;
    // Halfway through the first job's image, a second job on the same drive.
    world->wrap_image = [&](std::unique_ptr<ImageReader> inner) {
        return std::make_unique<test::TrippingImage>(std::move(inner), 2 * MiB, [&] {
            auto other = std::make_shared<DriveWorld>();
            second = run_write_job(request_for(drive), test::machine_of(other));
        });
    };
    auto result = run_write_job(request_for(drive), test::machine_of(world));
    ASSERT_TRUE(result) << result.error().text() << "\n" << log();
    EXPECT_EQ(stick(0, image.size()), image);
    ASSERT_TRUE(second);
    ASSERT_FALSE(*second);
    EXPECT_EQ(second->error().kind, JobError::Kind::InUse);
    EXPECT_EQ(second->error().text(),
              "drive in use: another write or drive check holds disk 4000000000");
    // The first job's end gave the drive back.
    world->wrap_image = nullptr;
    EXPECT_TRUE(
        run_write_job(request_for(drive), test::machine_of(std::make_shared<DriveWorld>())));
}

TEST_F(SimulatedWrite, FourKiBSectorsWithoutVerification) {
    DeviceInfo drive = attach(",sector=4096");
    ASSERT_EQ(drive.logical_sector, 4096u);
    WriteRequest request = request_for(drive);
    request.verify = false;
    auto result = run_write_job(request, test::machine_of(world));
    ASSERT_TRUE(result) << result.error().text();
    EXPECT_FALSE(result->pipeline.verified);
    EXPECT_EQ(result->pipeline.verify_seconds, 0.0);
    EXPECT_EQ(result->pipeline.bytes_written % 4096, 0u);
    EXPECT_EQ(stick(0, image.size()), image);
}

TEST_F(SimulatedWrite, MediaChangedWithinAndBeyondTheThreeReopens) {
    {
        DeviceInfo drive = attach("");
        world->before_identify =
            media_changes_at(world->simulated_states(), 3, 3);  // after the probe
        auto result = run_write_job(request_for(drive), test::machine_of(world));
        ASSERT_TRUE(result) << result.error().text();
        EXPECT_EQ(stick(0, image.size()), image);
        EXPECT_EQ(count_lines(log(), "ERROR_MEDIA_CHANGED: reopening the drive"), 3u);
        EXPECT_EQ(count_lines(log(), " WARN  "), 0u);
    }
    {
        // A fourth change in a row: the write goes on with gentler settings.
        DeviceInfo drive = attach(",vendor=Other");
        world = std::make_shared<DriveWorld>();  // identifications counted from 1 again
        world->before_identify = media_changes_at(world->simulated_states(), 3, 4);
        auto result = run_write_job(request_for(drive), test::machine_of(world));
        ASSERT_TRUE(result) << result.error().text();
        EXPECT_EQ(stick(0, image.size()), image);
        EXPECT_EQ(count_lines(log(), " WARN  write at 0 failed ("), 1u);
        EXPECT_NE(log().find("retrying with IoConfig { no_buffering: true, write_through: false, "
                             "depth: 1, io_size: 65536 } (was IoConfig { no_buffering: true, "
                             "write_through: false, depth: 1, io_size: 1048576 })"),
                  std::string::npos);
    }
}

// A fault of the drive or of the image, and how the job must end.
struct Fault {
    const char* name;
    std::string settings;
    std::function<void(SimulatedWrite&, DriveWorld&, WriteRequest&)> arrange;
    std::function<std::string()> text;
    size_t warnings = 0;
    bool nothing_written = false;
};

void PrintTo(const Fault& f, std::ostream* os) {
    *os << f.name;
}

class SimulatedFault : public SimulatedWrite, public ::testing::WithParamInterface<Fault> {};

TEST_P(SimulatedFault, EndsWithItsTextAndTheHeadStillZero) {
    const Fault& f = GetParam();
    DeviceInfo drive = attach(f.settings);
    WriteRequest request = request_for(drive);
    if (f.arrange) f.arrange(*this, *world, request);
    auto result = run_write_job(request, test::machine_of(world));
    ASSERT_FALSE(result);
    test::expect_text(result.error().text(), f.text());
    EXPECT_TRUE(stick_zero(0, 65536));
    if (f.nothing_written) {
        EXPECT_TRUE(stick_zero(0, 16 * MiB)) << "the drive was changed";
    }
    EXPECT_EQ(count_lines(log(), " WARN  "), f.warnings) << log();
}

using SE = platform::SimulatedError;

INSTANTIATE_TEST_SUITE_P(
    Faults, SimulatedFault,
    ::testing::Values(
        Fault{"RemovedWhileWriting", ",remove-at=2097152", nullptr,
              [] { return "device disconnected: " + simulated_text(SE::Removed); }},
        Fault{"WriteError", ",error=" + std::to_string(kIoErrorCode) + "@2097152", nullptr,
              [] { return "device write failed: " + os_error(kIoErrorCode).text; },
              2},  // 64 KiB requests, then buffered, then the error
        Fault{"MediaChangedOnEveryRequest", "",
              [](SimulatedWrite& t, DriveWorld& w, WriteRequest&) {
                  w.before_identify =
                      t.media_changes_at(w.simulated_states(), 3, 1000);  // after the probe
              },
              [] { return "device write failed: " + simulated_text(SE::MediaChanged); }, 2},
        // The test image holds data in its first 512 KiB only.
        Fault{"SilentlyDroppedWrites", ",drop-writes-at=131072", nullptr,
              [] { return std::string("device content differs from the image"); }},
        Fault{"ImageChangedAfterValidation", "",
              [](SimulatedWrite& t, DriveWorld&, WriteRequest&) {
                  std::fstream f(t.image_file, std::ios::in | std::ios::out | std::ios::binary);
                  f.seekp(2 * MiB + 100);
                  f.put('\x5a');
                  f.seekp(2 * MiB + 101);
                  f.put('\xa5');
              },
              [] { return std::string("image bytes differ from the signed hash"); }},
        Fault{"SwappedBeforeWriting", "",
              [](SimulatedWrite& t, DriveWorld& w, WriteRequest&) {
                  w.before_identify = [&t](int call) {
                      if (call == 3) t.set_drives(utf8_of(t.stick_file) + ",serial=SWAPPED");
                  };
              },
              [] { return std::string("refused: expected DeviceIdentity {…"); }, 0, true},
        Fault{"SwappedBeforeVerifying", "",
              [](SimulatedWrite& t, DriveWorld& w, WriteRequest&) {
                  w.before_identify = [&t](int call) {
                      if (call == 5) t.set_drives(utf8_of(t.stick_file) + ",serial=SWAPPED");
                  };
              },
              [] { return std::string("refused: expected DeviceIdentity {…"); }},
        Fault{"WriteProtected", ",write-protect", nullptr,
              [] {
                  return "drive does not accept writes (nothing was erased): writable query: " +
                         simulated_text(SE::WriteProtected) +
                         "; filesystem write test: skipped (the drive has no drive letter)";
              },
              0, true},  // the writable query finds the protection before any write
        Fault{"StoppedWhilePreparing", "",
              [](SimulatedWrite&, DriveWorld&, WriteRequest& r) { *r.stop = true; },
              [] { return std::string("cancelled"); }, 0, true},
        Fault{"StoppedWhileWriting", "",
              [](SimulatedWrite&, DriveWorld& w, WriteRequest& r) {
                  auto stop = r.stop;
                  w.wrap_image = [stop](std::unique_ptr<ImageReader> inner) {
                      return std::make_unique<test::TrippingImage>(std::move(inner), 2 * MiB,
                                                                   [stop] { *stop = true; });
                  };
              },
              [] { return std::string("cancelled"); }},
        Fault{"StoppedWhileFlushing", "",
              [](SimulatedWrite&, DriveWorld& w, WriteRequest& r) {
                  auto stop = r.stop;
                  w.before_identify = [stop](int call) {
                      if (call == 4) *stop = true;
                  };
              },
              [] { return std::string("cancelled"); }},
        Fault{"StoppedWhileVerifying", "",
              [](SimulatedWrite&, DriveWorld& w, WriteRequest& r) {
                  auto stop = r.stop;
                  w.before_identify = [stop](int call) {
                      if (call == 5) *stop = true;
                  };
              },
              [] { return std::string("cancelled"); }}),
    [](const ::testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace sw

#endif  // ORTIVEX_SIMULATED_DRIVES
