#include "cli/headless.h"

#include <gtest/gtest.h>

#include "disk/disk_system.h"
#include "entry.h"
#include "machine/machine.h"
#include "support/fake_clock.h"

namespace sw {
namespace {

TEST(Face, ModeFlagsAnywhereSelectTheHeadlessFace) {
    EXPECT_EQ(choose_face({}), Face::Window);
    EXPECT_EQ(choose_face({"foo", "bar", "--health"}), Face::Headless);
    EXPECT_EQ(choose_face({"--verify-image"}), Face::Headless);
    EXPECT_EQ(choose_face({"x", "--benchmark"}), Face::Headless);
    EXPECT_EQ(choose_face({"--restore"}), Face::Headless);
    // Exact, case-sensitive, whole-argument comparison.
    EXPECT_EQ(choose_face({"--HEALTH"}), Face::Window);
    EXPECT_EQ(choose_face({"--health=1"}), Face::Window);
    EXPECT_EQ(choose_face({" --health"}), Face::Window);
    // Options that are not mode flags open the window.
    EXPECT_EQ(choose_face({"--bench-mib", "64", "--no-verify", "--enable-destructive-usb-tests"}),
              Face::Window);
}

// The request as one line: the mode, the test drive's serial in quotes and
// the mode's arguments; a refusal as its line.
std::string describe(const HeadlessRequest& q) {
    using R = HeadlessRequest;
    switch (q.mode) {
        case R::ListDrives:
            return "list";
        case R::VerifyImage:
            return "verify " + q.image_path;
        case R::Health:
            return "health";
        case R::Refused:
            return q.line;
        case R::Write:
            return "write '" + q.serial + "' " + q.image_path +
                   (q.verify ? " verify" : " no-verify");
        case R::Restore:
            return "restore '" + q.serial + "'";
        case R::Benchmark:
            return "benchmark '" + q.serial + "' " + std::to_string(q.mib);
        case R::NothingToDo:
            return "nothing to do on '" + q.serial + "'";
    }
    return "?";
}

std::string run(const std::vector<std::string>& args,
                std::optional<std::string> serial = std::nullopt) {
    return describe(dispatch(args, serial));
}

const std::string kNeedsOption = "refused: destructive modes need --enable-destructive-usb-tests";

TEST(Dispatch, NonDestructiveModesComeFirstAndNeedNoSerial) {
    EXPECT_EQ(run({"--write", "x.iso", "--list-drives"}), "list");
    EXPECT_EQ(run({"--health", "--verify-image", "a b.iso"}), "verify a b.iso");
    EXPECT_EQ(run({"--health", "--write", "x.iso"}), "health");
    for (auto mode : {HeadlessRequest::ListDrives, HeadlessRequest::VerifyImage,
                      HeadlessRequest::Health, HeadlessRequest::Refused})
        EXPECT_FALSE(on_test_drive(HeadlessRequest{.mode = mode}));
}

TEST(Dispatch, VerifyImageAsLastArgumentFallsThrough) {
    EXPECT_EQ(run({"--verify-image"}), kNeedsOption);
}

TEST(Dispatch, DestructiveModesNeedTheOptionAndABlankFreeSerial) {
    for (auto serial : {std::optional<std::string>{}, std::optional<std::string>{""},
                        std::optional<std::string>{"   \t"}}) {
        EXPECT_EQ(run({"--enable-destructive-usb-tests", "--write", "x.iso"}, serial),
                  "refused: set ORTIVEX_TEST_USB_SERIAL to the serial number of the "
                  "test drive");
    }
    EXPECT_EQ(run({"--write", "x.iso"}, "SER"), kNeedsOption);
}

TEST(Dispatch, WriteSelectsByTheUntrimmedSerial) {
    auto q =
        dispatch({"--write", "img.iso", "--enable-destructive-usb-tests", "--no-verify"}, " S1 ");
    EXPECT_EQ(describe(q), "write ' S1 ' img.iso no-verify");
    EXPECT_TRUE(on_test_drive(q));
    EXPECT_EQ(run({"--enable-destructive-usb-tests", "--write", "img.iso"}, "S1"),
              "write 'S1' img.iso verify");
}

TEST(Dispatch, WriteWithoutImageSelectsThenHasNothingToDo) {
    auto q = dispatch({"--enable-destructive-usb-tests", "--write"}, "S1");
    EXPECT_EQ(describe(q), "nothing to do on 'S1'");
    EXPECT_TRUE(on_test_drive(q));
}

TEST(Dispatch, AnOptionAfterWriteIsNoImagePath) {
    // "--no-verify" (or any option) after "--write" is a forgotten path, not
    // an image to erase the drive with; nothing is selected or written.
    for (std::string option : {"--no-verify", "--benchmark", "--bench-mib"}) {
        auto q = dispatch({"--enable-destructive-usb-tests", "--write", option}, "S1");
        EXPECT_EQ(q.mode, HeadlessRequest::Refused) << option;
        EXPECT_EQ(q.line, "refused: missing image path after --write (found " + option + ")");
    }
    // A path that merely starts with dashes is still a path.
    EXPECT_EQ(run({"--enable-destructive-usb-tests", "--write", "--image.iso"}, "S1"),
              "write 'S1' --image.iso verify");
}

TEST(Dispatch, RestoreIsDestructiveAndOnlyOnTheTestDrive) {
    EXPECT_EQ(run({"--restore"}, "S1"), kNeedsOption);
    auto q = dispatch({"--enable-destructive-usb-tests", "--restore"}, "S1");
    EXPECT_EQ(describe(q), "restore 'S1'");
    EXPECT_TRUE(on_test_drive(q));
    // Restore comes before the benchmark; a write named with it runs instead.
    EXPECT_EQ(run({"--restore", "--enable-destructive-usb-tests", "--benchmark"}, "S1"),
              "restore 'S1'");
    EXPECT_EQ(run({"--restore", "--enable-destructive-usb-tests", "--write", "a.iso"}, "S1"),
              "write 'S1' a.iso verify");
}

TEST(Dispatch, BenchmarkSizeFromTheFirstBenchMib) {
    EXPECT_EQ(run({"--benchmark", "--enable-destructive-usb-tests", "--bench-mib", "+64",
                   "--bench-mib", "8"},
                  "S1"),
              "benchmark 'S1' 64");

    EXPECT_EQ(bench_mib({"--bench-mib", "lots"}), 1024u);
    EXPECT_EQ(bench_mib({"--bench-mib"}), 1024u);
    EXPECT_EQ(bench_mib({"--bench-mib", ""}), 1024u);
    EXPECT_EQ(bench_mib({"--bench-mib", "18446744073709551616"}), 1024u);
    EXPECT_EQ(bench_mib({"--bench-mib", "0"}), 0u);
    EXPECT_EQ(bench_mib({}), 1024u);

    auto q = dispatch({"--benchmark", "--enable-destructive-usb-tests"}, "S1");
    EXPECT_EQ(describe(q), "benchmark 'S1' 1024");
    EXPECT_TRUE(on_test_drive(q));
}

// A machine with no drives at all: no test drive can be found on it.
class NoDrives final : public DiskSystemWrapper {
  public:
    using DiskSystemWrapper::DiskSystemWrapper;
    Result<std::vector<DeviceInfo>, OsError> enumerate_disks() override {
        return std::vector<DeviceInfo>{};
    }
};

TEST(RunRequest, RefusalsPrintTheirLineAndTheTestDriveIsSelectedFirst) {
    test::FakeClock clock;
    auto machine = platform_machine(std::make_shared<NoDrives>(platform_disk_system(clock)));
    EXPECT_EQ(run_request(dispatch({"--restore"}, "S1"), machine), kExitRefused);
    // Every mode on the test drive ends with exit code 3 when no drive has
    // the serial: the drive is selected before anything of the mode runs,
    // "nothing to do" included.
    for (auto args : std::vector<std::vector<std::string>>{
             {"--write", "/no/such/image.iso"}, {"--restore"}, {"--benchmark"}, {}}) {
        args.push_back("--enable-destructive-usb-tests");
        auto q = dispatch(args, "S1");
        ASSERT_TRUE(on_test_drive(q)) << describe(q);
        EXPECT_EQ(run_request(q, machine), kExitNoTestDrive) << describe(q);
    }
}

}  // namespace
}  // namespace sw
