// The road of one write through the window's logic, end to end: simulated
// USB drives found by the real drive scan, a real signed image validated by
// the real worker, the drive chosen with the arrow key, the erase confirmed
// by its buttons, the real write job writing the simulated drive through the
// platform's engine, then eject and "Done". The same road stopped during the
// write, and with the drive pulled out during the write. And the road of a
// restore: the drive chosen, "Restore drive", its confirmation, the real
// restore job, the result; and the same with a write error.
//
// Natively and under the sanitizers only: the road needs the real system
// facts, and under wine they cannot be learned without the registry set-up
// that the end-to-end tests make for the whole prefix (every drive would be
// refused as undetermined).
#if defined(ORTIVEX_SIMULATED_DRIVES) && !defined(_WIN32)

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "core/paths.h"
#include "disk/simulated/simulated.h"
#include "support/eventually.h"
#include "support/machine.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"
#include "support/test_images.h"
#include "support/ui_harness.h"
#include "ui/workers.h"

namespace sw {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::MiB;

class UiRoad : public ::testing::Test {
  protected:
    void SetUp() override {
        Logger::init(dir.path() / "logs");
        image_file = dir.path() / "OrtivexOS.iso";
        image = test::load_test_image("signed.iso");
        test::write_file(image_file, image);
    }
    void TearDown() override {
        h.reset();  // waits for the jobs its workers started
        Logger::shut_down();
    }

    // Two sticks that may be written and one without medium; `first` is
    // added to the first stick's settings.
    void attach(const std::string& first = "", uint64_t size = 16 * MiB) {
        for (const char* name : {"stick1.img", "stick2.img"}) {
            { std::ofstream(dir.path() / name, std::ios::binary).close(); }
            fs::resize_file(dir.path() / name, size);
        }
        { std::ofstream(dir.path() / "empty.img", std::ios::binary).close(); }
        env.emplace(std::string(kSimulatedDrivesVariable),
                    utf8_of(dir.path() / "stick1.img") + ",serial=ROAD1" + first + ";" +
                        utf8_of(dir.path() / "stick2.img") + ",serial=ROAD2;" +
                        utf8_of(dir.path() / "empty.img") + ",serial=EMPTY");
        h.emplace([](std::shared_ptr<MessageQueue> q) {
            return make_real_workers(test::dev_machine(), std::move(q));
        });
    }

    // Takes worker messages and runs animation ticks until `done` holds; the
    // ceiling only guards against a hang.
    bool pump(const std::function<bool()>& done) {
        auto until = std::chrono::steady_clock::now() + test::kHangGuard;
        while (!done()) {
            if (std::chrono::steady_clock::now() > until) return false;
            h->queue->wait_for_message(5ms);
            h->ui.worker_wake();
            h->advance(16ms);
            h->frame();
        }
        return true;
    }
    WindowState& s() { return h->s(); }
    bool settled() { return !s().drives.scan_running && s().phase != AppPhase::ValidatingImage; }

    // From start to the confirmed erase: the write job is running afterwards.
    void road_to_write() {
        h->ui.settings_changed();
        h->ui.request_scan();
        ASSERT_TRUE(pump([&] { return s().drives.scanned && !s().drives.scan_running; }));
        auto listed = listed_drives(s());
        for (auto& [drive, refusals] : listed)
            for (auto& r : refusals)
                if (r.kind == Refusal::Undetermined)
                    GTEST_SKIP() << "the system facts cannot be learned here: " << r.text;
        ASSERT_EQ(listed.size(), 3u) << "the simulated drives are not listed";
        ASSERT_EQ(offered_drives(s()).size(), 2u) << debug_string(listed[0].second);
        EXPECT_FALSE(s().drives.selected);  // two offered: none chosen for the operator

        ASSERT_TRUE(h->click(UiAction::SelectImage));
        ASSERT_EQ(h->host.pickers, 1);
        h->ui.picker_result(utf8_of(image_file));
        ASSERT_TRUE(pump([&] { return settled(); }));
        ASSERT_EQ(s().phase, AppPhase::ImageReady);
        ASSERT_TRUE(s().image.chosen && s().image.chosen->inspection &&
                    s().image.chosen->inspection->is_signed());

        h->ui.key_down(Key::Down, false);
        ASSERT_EQ(s().phase, AppPhase::DeviceReady);
        ASSERT_EQ(s().drives.selected->serial, "ROAD1");
        ASSERT_TRUE(h->click(UiAction::Create));
        ASSERT_EQ(s().overlay, Overlay::EraseConfirm);
        ASSERT_TRUE(h->click(UiAction::AcceptErase));
        ASSERT_EQ(s().phase, AppPhase::Preparing);
        ASSERT_TRUE(h->host.shutdown_blocked);
    }

    // From start to a confirmed restore of the first stick, no image chosen:
    // the restore job is running afterwards.
    void road_to_restore() {
        h->ui.settings_changed();
        h->ui.request_scan();
        ASSERT_TRUE(pump([&] { return s().drives.scanned && !s().drives.scan_running; }));
        for (auto& [drive, refusals] : listed_drives(s()))
            for (auto& r : refusals)
                if (r.kind == Refusal::Undetermined)
                    GTEST_SKIP() << "the system facts cannot be learned here: " << r.text;
        ASSERT_EQ(offered_drives(s()).size(), 2u);
        h->ui.key_down(Key::Down, false);
        ASSERT_TRUE(s().drives.selected);
        ASSERT_EQ(s().drives.selected->serial, "ROAD1");
        ASSERT_EQ(s().phase, AppPhase::Idle);
        ASSERT_TRUE(h->click(UiAction::RestoreDrive));
        ASSERT_EQ(s().overlay, Overlay::RestoreConfirm);
        ASSERT_TRUE(h->click(UiAction::AcceptRestore));
        ASSERT_EQ(s().phase, AppPhase::Preparing);
        ASSERT_TRUE(h->host.shutdown_blocked);
    }

    std::string stick(uint64_t offset, size_t n) {
        std::ifstream in(dir.path() / "stick1.img", std::ios::binary);
        in.seekg(static_cast<std::streamoff>(offset));
        std::string out(n, '\0');
        in.read(out.data(), static_cast<std::streamsize>(n));
        out.resize(static_cast<size_t>(in.gcount()));
        return out;
    }
    bool head_is_zero() {
        std::string head = stick(0, 65536);
        return head.size() == 65536 &&
               std::all_of(head.begin(), head.end(), [](char c) { return c == 0; });
    }
    std::string log_text() {
        auto file = Logger::current_file();
        return file ? test::read_file(*file) : std::string();
    }

    test::TempDir dir;
    fs::path image_file;
    std::string image;
    std::optional<test::ScopedEnv> env;
    std::optional<test::UiHarness> h;
};

TEST_F(UiRoad, OneWriteFromPickToDone) {
    attach();
    road_to_write();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(pump([&] { return !is_write_in_progress(s().phase); }));
    ASSERT_EQ(s().phase, AppPhase::Complete) << log_text();
    EXPECT_FALSE(h->host.shutdown_blocked);
    EXPECT_EQ(stick(0, image.size()), image);
    EXPECT_TRUE(test::has_text(h->canvas, "Ortivex is ready."));

    ASSERT_TRUE(h->click(UiAction::Eject));
    ASSERT_TRUE(pump([&] { return s().write.eject != EjectState::Running; }));
    EXPECT_EQ(s().write.eject, EjectState::Ejected);
    ASSERT_TRUE(h->click(UiAction::Done));
    ASSERT_TRUE(pump([&] { return settled(); }));
    // The same image, validated again; the ejected stick has left the list,
    // so the other one, now the only one offered, is chosen.
    EXPECT_EQ(s().phase, AppPhase::DeviceReady);
    ASSERT_TRUE(s().drives.selected);
    EXPECT_EQ(s().drives.selected->serial, "ROAD2");

    std::string log = log_text();
    for (const char* line :
         {"state Idle --ImagePicked--> ImageSelected",
          "state ImageSelected --ValidationStarted--> ValidatingImage",
          "state ValidatingImage --ImageAccepted--> ImageReady",
          "state ImageReady --DeviceSelected--> DeviceReady",
          "state DeviceReady --CreatePressed--> Confirming",
          "state Confirming --ConfirmAccepted--> Preparing",
          "state Ejecting --Completed--> Complete", "state Complete --Reset--> Idle"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
}

TEST_F(UiRoad, StoppedDuringWritingEndsCancelledWithTheHeadStillZero) {
    // At 1 MB/s the image takes seconds to write: the stop lands while it is
    // written even when this thread is slow to be scheduled.
    attach(",mbps=1");
    road_to_write();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(pump([&] { return s().phase != AppPhase::Preparing; }));
    ASSERT_EQ(s().phase, AppPhase::Writing);
    ASSERT_TRUE(h->click(UiAction::StopWrite));
    ASSERT_TRUE(h->click(UiAction::ConfirmStop));
    ASSERT_TRUE(pump([&] { return !is_write_in_progress(s().phase); }));
    EXPECT_EQ(s().phase, AppPhase::Cancelled) << log_text();
    EXPECT_TRUE(head_is_zero());
    EXPECT_TRUE(test::has_text(h->canvas, "USB creation stopped."));
}

TEST_F(UiRoad, DrivePulledDuringWritingEndsFailedAndDetailsCanBeCopied) {
    attach(",remove-at=" + std::to_string(2 * MiB));
    road_to_write();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(pump([&] { return !is_write_in_progress(s().phase); }));
    ASSERT_EQ(s().phase, AppPhase::Failed) << log_text();
    EXPECT_TRUE(test::has_text(h->canvas, "USB drive disconnected."));
    EXPECT_TRUE(test::has_text(h->canvas, "Reconnect the USB drive and try again."));
    ASSERT_TRUE(h->click(UiAction::CopyDetails));
    auto file = Logger::current_file();
    ASSERT_TRUE(file);
    EXPECT_EQ(h->host.clipboard,
              "USB drive disconnected.\nThe installation media was not completed. Reconnect the "
              "USB drive and try again.\n\n" +
                  s().write.failure->text() + "\n\nlog: " + utf8_of(*file));
    EXPECT_NE(s().write.failure->text().find("device disconnected"), std::string::npos);
    EXPECT_TRUE(head_is_zero());
}

TEST_F(UiRoad, OneRestoreFromChoiceToDone) {
    attach("", 64 * MiB);
    road_to_restore();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(pump([&] { return !is_write_in_progress(s().phase); }));
    ASSERT_EQ(s().phase, AppPhase::Complete) << log_text();
    EXPECT_FALSE(h->host.shutdown_blocked);
    ASSERT_TRUE(s().write.restored);
    EXPECT_EQ(s().write.restored->fs, format::FileSystem::Fat32);
    EXPECT_TRUE(test::has_text(h->canvas, "The drive is restored."));
    EXPECT_TRUE(test::has_text(h->canvas, "It now has one empty partition: FAT32, "));
    // On the stick: a partition table with one FAT32 (LBA) partition from
    // 1 MiB, and a FAT32 boot sector there.
    EXPECT_EQ(stick(510, 2), "\x55\xAA");
    EXPECT_EQ(stick(446 + 4, 1), "\x0C");
    EXPECT_EQ(stick(446 + 8, 4), std::string("\x00\x08\x00\x00", 4));  // sector 2048
    EXPECT_EQ(stick(MiB + 82, 8), "FAT32   ");
    std::string log = log_text();
    EXPECT_NE(log.find("restore OK: FAT32, "), std::string::npos) << log;
    EXPECT_NE(log.find("state Idle --RestoreAccepted--> Preparing"), std::string::npos);

    ASSERT_TRUE(h->click(UiAction::Done));
    EXPECT_EQ(s().phase, AppPhase::Idle);
    ASSERT_TRUE(pump([&] { return !s().drives.scan_running; }));
}

TEST_F(UiRoad, RestoreWithAWriteErrorEndsFailedWithTheJobsText) {
#ifdef _WIN32
    constexpr int kIoError = 1117;
#else
    constexpr int kIoError = 5;  // EIO
#endif
    attach(",error=" + std::to_string(kIoError) + "@" + std::to_string(MiB), 64 * MiB);
    road_to_restore();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(pump([&] { return !is_write_in_progress(s().phase); }));
    ASSERT_EQ(s().phase, AppPhase::Failed) << log_text();
    EXPECT_FALSE(h->host.shutdown_blocked);
    ASSERT_TRUE(s().write.failure);
    EXPECT_NE(s().write.failure->text().find("device write failed: "), std::string::npos)
        << s().write.failure->text();
    EXPECT_TRUE(test::has_text(h->canvas, "The USB drive stopped accepting data."));
    // No table claims a file system that was never written.
    EXPECT_NE(stick(446 + 4, 1), "\x0C");
}

}  // namespace
}  // namespace sw

#endif  // ORTIVEX_SIMULATED_DRIVES, not _WIN32
