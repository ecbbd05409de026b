#include "cli/headless.h"

#include <gtest/gtest.h>

#include "entry.h"

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

// Records which mode the dispatcher chose and what it printed.
struct Recorder {
    std::vector<std::string> calls;
    std::vector<std::string> lines;
    std::optional<DeviceInfo> drive;  // what select_test_drive answers
    HeadlessModes modes() {
        return HeadlessModes{
            .list_drives =
                [this] {
                    calls.push_back("list");
                    return 0;
                },
            .verify_image =
                [this](const std::string& p) {
                    calls.push_back("verify " + p);
                    return 0;
                },
            .health =
                [this] {
                    calls.push_back("health");
                    return 0;
                },
            .select_test_drive =
                [this](const std::string& s) {
                    calls.push_back("select '" + s + "'");
                    return drive;
                },
            .write =
                [this](const DeviceInfo& d, const std::string& p, bool verify) {
                    calls.push_back("write " + d.serial + " " + p +
                                    (verify ? " verify" : " no-verify"));
                    return 0;
                },
            .benchmark =
                [this](const DeviceInfo& d, uint64_t mib) {
                    calls.push_back("benchmark " + d.serial + " " + std::to_string(mib));
                    return 0;
                },
            .restore =
                [this](const DeviceInfo& d) {
                    calls.push_back("restore " + d.serial);
                    return 0;
                },
        };
    }
    int run(const std::vector<std::string>& args,
            std::optional<std::string> serial = std::nullopt) {
        auto m = modes();
        return dispatch(args, serial, m, [this](std::string_view l) { lines.emplace_back(l); });
    }
};

DeviceInfo drive_with_serial(const std::string& serial) {
    DeviceInfo d;
    d.serial = serial;
    return d;
}

TEST(Dispatch, NonDestructiveModesComeFirstAndNeedNoSerial) {
    Recorder r;
    EXPECT_EQ(r.run({"--write", "x.iso", "--list-drives"}), 0);
    EXPECT_EQ(r.calls, std::vector<std::string>{"list"});

    Recorder v;
    EXPECT_EQ(v.run({"--health", "--verify-image", "a b.iso"}), 0);
    EXPECT_EQ(v.calls, std::vector<std::string>{"verify a b.iso"});

    Recorder h;
    EXPECT_EQ(h.run({"--health", "--write", "x.iso"}), 0);
    EXPECT_EQ(h.calls, std::vector<std::string>{"health"});
}

TEST(Dispatch, VerifyImageAsLastArgumentFallsThrough) {
    Recorder r;
    EXPECT_EQ(r.run({"--verify-image"}), 2);
    EXPECT_TRUE(r.calls.empty());
    EXPECT_EQ(r.lines, std::vector<std::string>{
                           "refused: destructive modes need --enable-destructive-usb-tests"});
}

TEST(Dispatch, DestructiveModesNeedTheOptionAndABlankFreeSerial) {
    for (auto serial : {std::optional<std::string>{}, std::optional<std::string>{""},
                        std::optional<std::string>{"   \t"}}) {
        Recorder r;
        EXPECT_EQ(r.run({"--enable-destructive-usb-tests", "--write", "x.iso"}, serial), 2);
        EXPECT_TRUE(r.calls.empty());
        EXPECT_EQ(
            r.lines,
            std::vector<std::string>{
                "refused: set ORTIVEX_TEST_USB_SERIAL to the serial number of the test drive"});
    }
    Recorder without;
    EXPECT_EQ(without.run({"--write", "x.iso"}, "SER"), 2);
    EXPECT_TRUE(without.calls.empty());
}

TEST(Dispatch, WriteSelectsByTheUntrimmedSerial) {
    Recorder r;
    r.drive = drive_with_serial(" S1 ");
    EXPECT_EQ(
        r.run({"--write", "img.iso", "--enable-destructive-usb-tests", "--no-verify"}, " S1 "), 0);
    EXPECT_EQ(r.calls, (std::vector<std::string>{"select ' S1 '", "write  S1  img.iso no-verify"}));

    Recorder none;
    EXPECT_EQ(none.run({"--enable-destructive-usb-tests", "--write", "img.iso"}, "S1"), 3);
    EXPECT_EQ(none.calls, std::vector<std::string>{"select 'S1'"});
}

TEST(Dispatch, WriteWithoutImageSelectsThenHasNothingToDo) {
    Recorder r;
    r.drive = drive_with_serial("S1");
    EXPECT_EQ(r.run({"--enable-destructive-usb-tests", "--write"}, "S1"), 2);
    EXPECT_EQ(r.calls, std::vector<std::string>{"select 'S1'"});
    EXPECT_EQ(r.lines, std::vector<std::string>{"nothing to do"});
}

TEST(Dispatch, AnOptionAfterWriteIsNoImagePath) {
    // "--no-verify" (or any option) after "--write" is a forgotten path, not
    // an image to erase the drive with; nothing is selected or written.
    for (std::string option : {"--no-verify", "--benchmark", "--bench-mib"}) {
        Recorder r;
        r.drive = drive_with_serial("S1");
        EXPECT_EQ(r.run({"--enable-destructive-usb-tests", "--write", option}, "S1"), 2);
        EXPECT_TRUE(r.calls.empty()) << option;
        EXPECT_EQ(r.lines, std::vector<std::string>{"refused: missing image path after --write "
                                                    "(found " +
                                                    option + ")"});
    }
    // A path that merely starts with dashes is still a path.
    Recorder r;
    r.drive = drive_with_serial("S1");
    EXPECT_EQ(r.run({"--enable-destructive-usb-tests", "--write", "--image.iso"}, "S1"), 0);
    EXPECT_EQ(r.calls, (std::vector<std::string>{"select 'S1'", "write S1 --image.iso verify"}));
}

TEST(Dispatch, RestoreIsDestructiveAndOnlyOnTheTestDrive) {
    Recorder refused;
    refused.drive = drive_with_serial("S1");
    EXPECT_EQ(refused.run({"--restore"}, "S1"), 2);
    EXPECT_TRUE(refused.calls.empty());
    EXPECT_EQ(refused.lines, std::vector<std::string>{
                                 "refused: destructive modes need --enable-destructive-usb-tests"});

    Recorder none;
    EXPECT_EQ(none.run({"--enable-destructive-usb-tests", "--restore"}, "S1"), 3);
    EXPECT_EQ(none.calls, std::vector<std::string>{"select 'S1'"});

    // Restore comes before the benchmark; a write named with it runs instead.
    Recorder r;
    r.drive = drive_with_serial("S1");
    EXPECT_EQ(r.run({"--restore", "--enable-destructive-usb-tests", "--benchmark"}, "S1"), 0);
    EXPECT_EQ(r.calls, (std::vector<std::string>{"select 'S1'", "restore S1"}));
    Recorder w;
    w.drive = drive_with_serial("S1");
    EXPECT_EQ(w.run({"--restore", "--enable-destructive-usb-tests", "--write", "a.iso"}, "S1"), 0);
    EXPECT_EQ(w.calls, (std::vector<std::string>{"select 'S1'", "write S1 a.iso verify"}));
}

TEST(Dispatch, BenchmarkSizeFromTheFirstBenchMib) {
    Recorder r;
    r.drive = drive_with_serial("S1");
    EXPECT_EQ(r.run({"--benchmark", "--enable-destructive-usb-tests", "--bench-mib", "+64",
                     "--bench-mib", "8"},
                    "S1"),
              0);
    EXPECT_EQ(r.calls.back(), "benchmark S1 64");

    EXPECT_EQ(bench_mib({"--bench-mib", "lots"}), 1024u);
    EXPECT_EQ(bench_mib({"--bench-mib"}), 1024u);
    EXPECT_EQ(bench_mib({"--bench-mib", ""}), 1024u);
    EXPECT_EQ(bench_mib({"--bench-mib", "18446744073709551616"}), 1024u);
    EXPECT_EQ(bench_mib({"--bench-mib", "0"}), 0u);
    EXPECT_EQ(bench_mib({}), 1024u);

    Recorder none;
    EXPECT_EQ(none.run({"--benchmark", "--enable-destructive-usb-tests"}, "S1"), 3);
}

}  // namespace
}  // namespace sw
