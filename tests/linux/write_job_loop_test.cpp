// The write job on a simulated drive backed by a loop device (as root), with
// the machine's real system facts: the disk is taken away exclusively for
// the job, written through io_uring, and holds the image afterwards.
#ifdef ORTIVEX_SIMULATED_DRIVES

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "linux/loop_device.h"
#include "core/text.h"
#include "disk/drives.h"
#include "disk/simulated/simulated.h"
#include "image/crypto.h"
#include "image/validation.h"
#include "support/drive_world.h"
#include "support/machine.h"
#include "support/temp_dir.h"
#include "support/test_images.h"

namespace sw {
namespace {

namespace fs = std::filesystem;
using test::MiB;
using test::shell;

class LoopBackedDrive : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "loop devices need root";
        backing = dir / "loop.img";
        std::ofstream(backing, std::ios::binary).close();
        fs::resize_file(backing, 16 * MiB);
        node = shell("losetup -f --show " + backing.string());
        if (node.empty()) GTEST_SKIP() << "no loop device available";
    }
    void TearDown() override {
        if (!node.empty()) shell("losetup -d " + node);
    }
    test::TempDir dir;
    fs::path backing;
    std::string node;
};

TEST_F(LoopBackedDrive, TheJobWritesTheImageWithTheMachinesOwnFacts) {
    const fs::path image_file = dir / "ortivex.iso";
    const std::string image = test::load_test_image("signed.iso");
    test::write_file(image_file, image);
    auto reader = open_image_file(image_file.string());
    ASSERT_TRUE(reader);
    auto inspection = inspect_image(**reader);
    ASSERT_TRUE(inspection);

    test::ScopedEnv env(std::string(kSimulatedDrivesVariable), node + ",serial=LOOPSTICK");
    auto drives = list_drives(test::dev_disks());
    ASSERT_TRUE(drives);
    std::optional<DeviceInfo> stick;
    for (const auto& d : *drives)
        if (d.number == kFirstSimulatedNumber) stick = d;
    ASSERT_TRUE(stick);
    EXPECT_EQ(stick->size, 16 * MiB);

    auto world = std::make_shared<test::DriveWorld>();
    world->real_facts = true;
    WriteRequest request;
    request.image = image_facts_of(*inspection);
    request.image_path = image_file.string();
    request.drive = *stick;
    auto result = run_write_job(request, test::machine_of(world));
    ASSERT_TRUE(result) << result.error().text();
    EXPECT_EQ(result->pipeline.digest, *request.image.expected_digest);

    std::ifstream in(backing, std::ios::binary);
    std::string written(image.size(), '\0');
    in.read(written.data(), static_cast<std::streamsize>(written.size()));
    EXPECT_TRUE(written == image) << "the loop device does not hold the image";
}

// Sectors the kernel has read from a block device so far.
uint64_t sectors_read(const std::string& node) {
    std::ifstream in("/sys/block/" + node.substr(5) + "/stat");
    uint64_t reads = 0, merged = 0, sectors = 0;
    in >> reads >> merged >> sectors;
    return sectors;
}

TEST_F(LoopBackedDrive, AWriteThatFellBackToBufferedIsReadBackFromTheDevice) {
    const fs::path image_file = dir / "ortivex.iso";
    const std::string image = test::load_test_image("signed.iso");
    test::write_file(image_file, image);
    auto reader = open_image_file(image_file.string());
    ASSERT_TRUE(reader);
    auto inspection = inspect_image(**reader);
    ASSERT_TRUE(inspection);

    test::ScopedEnv env(std::string(kSimulatedDrivesVariable),
                        node + ",serial=LOOPSTICK,buffered-writes-only");
    auto drives = list_drives(test::dev_disks());
    ASSERT_TRUE(drives);
    std::optional<DeviceInfo> stick;
    for (const auto& d : *drives)
        if (d.number == kFirstSimulatedNumber) stick = d;
    ASSERT_TRUE(stick);

    auto world = std::make_shared<test::DriveWorld>();
    world->real_facts = true;
    WriteRequest request;
    request.image = image_facts_of(*inspection);
    request.image_path = image_file.string();
    request.drive = *stick;
    const uint64_t before = sectors_read(node);
    auto result = run_write_job(request, test::machine_of(world));
    const uint64_t after = sectors_read(node);
    ASSERT_TRUE(result) << result.error().text();
    ASSERT_TRUE(result->pipeline.verified);
    // Every byte of the image came from the device, not from the cache the
    // buffered writes filled.
    EXPECT_GE((after - before) * 512, image.size());
}

}  // namespace
}  // namespace sw

#endif  // ORTIVEX_SIMULATED_DRIVES
