// A window closed while its workers still run: the workers hold what they
// touch by shared ownership, so finishing after the window, its controller
// and its workers object are gone touches no freed state (the sanitizer
// build is the one that would see it).
#include <gtest/gtest.h>

#include "support/eventually.h"
#include "support/fake_clock.h"
#include "support/fake_window_host.h"
#include "support/gate.h"
#include "support/machine.h"
#include "support/test_images.h"
#include "ui/controller.h"

namespace sw {
namespace {

// Drives whose listing hangs until the test opens the gate.
class HangingDisks final : public DiskSystemWrapper {
  public:
    HangingDisks(std::shared_ptr<DiskSystem> base, std::shared_ptr<test::Gate> gate)
        : DiskSystemWrapper(std::move(base)), gate_(std::move(gate)) {}
    Result<std::vector<DeviceInfo>, OsError> enumerate_disks() override {
        gate_->wait();
        return DiskSystemWrapper::enumerate_disks();
    }

  private:
    std::shared_ptr<test::Gate> gate_;
};

// One window's logic with the real workers, closed and destroyed after
// `begin`; what is left is the queue and the workers object, which the test
// lets go of when it wants.
struct ClosedWindow {
    std::shared_ptr<MessageQueue> queue;
    std::unique_ptr<UiWorkers> workers;
};

template <class Begin>
ClosedWindow window_closed_while(std::shared_ptr<Machine> machine, Begin begin) {
    test::FakeClock clock;
    test::FakeWindowHost host{clock};
    ClosedWindow left{std::make_shared<MessageQueue>(), nullptr};
    left.workers = make_real_workers(std::move(machine), left.queue);
    WindowController ui(host, *left.workers, left.queue, clock);
    begin(ui);
    ui.close();
    EXPECT_EQ(host.calls.back(), "destroy");
    ui.destroy();
    return left;
}

// The last worker has let go of the queue: nothing of the window is left.
bool finished(const std::weak_ptr<MessageQueue>& queue) {
    return test::eventually([&] { return queue.expired(); });
}

TEST(UiWorkersOutliveTheWindow, DriveScanFinishingAfterTheWindowAndItsWorkersAreGone) {
    auto gate = std::make_shared<test::Gate>();
    auto machine = platform_machine(std::make_shared<HangingDisks>(test::dev_disks(), gate));
    ClosedWindow closed =
        window_closed_while(machine, [](WindowController& ui) { ui.request_scan(); });
    std::weak_ptr<MessageQueue> queue = closed.queue;
    closed = {};  // the workers wait a moment, then leave the hanging scan behind
    ASSERT_FALSE(queue.expired()) << "the scan should still be running";
    gate->open();
    EXPECT_TRUE(finished(queue));
}

TEST(UiWorkersOutliveTheWindow, ValidationReportingAfterTheWindowIsGone) {
    ClosedWindow closed = window_closed_while(test::dev_machine(), [](WindowController& ui) {
        ui.select_image(test::test_image_path("signed.iso"), std::nullopt);
        ASSERT_EQ(ui.state().phase, AppPhase::ValidatingImage);
    });
    // The window's logic is gone; the validation it started still reports.
    ASSERT_TRUE(closed.queue->wait_for_message(test::kHangGuard));
    std::vector<UiMessage> reports = closed.queue->drain();
    ASSERT_FALSE(reports.empty());
    EXPECT_TRUE(std::holds_alternative<ImageInspected>(reports.front()));
    std::weak_ptr<MessageQueue> queue = closed.queue;
    closed = {};
    EXPECT_TRUE(finished(queue));
}

}  // namespace
}  // namespace sw
