// One window's logic with a fake host, fake workers and a fake clock, and the
// steps tests take to bring it to a phase.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/fake_clock.h"
#include "support/fake_ui_workers.h"
#include "support/fake_window_host.h"
#include "support/recording_canvas.h"
#include "ui/controller.h"

namespace sw::test {

inline DeviceInfo usb_stick(uint32_t number, uint64_t size = 16'000'000'000,
                            std::string serial = "") {
    DeviceInfo d;
    d.instance_id = "USBSTOR\\STICK\\" + std::to_string(number);
    d.vendor = "Ortivex";
    d.product = "Stick " + std::to_string(number);
    d.serial = serial.empty() ? "S" + std::to_string(number) : serial;
    d.bus = BusKind{BusKind::Usb, 0};
    d.size = size;
    d.number = number;
    d.usb_speed = UsbSpeed::High;
    return d;
}

inline ImageInspection unsigned_inspection(uint64_t size = 8'000'000) {
    ImageInspection in;
    in.version = "24.10.1";
    in.image_size = size;
    return in;
}

struct UiHarness {
    using MakeWorkers = std::function<std::unique_ptr<UiWorkers>(std::shared_ptr<MessageQueue>)>;
    // With the fake workers, or with the ones `make` returns (which the
    // harness owns and destroys after the controller).
    explicit UiHarness(const MakeWorkers& make = {})
        : real(make ? make(queue) : nullptr), ui(host, real ? *real : workers, queue, clock) {}

    FakeClock clock;
    FakeWindowHost host{clock};
    FakeUiWorkers workers;
    std::shared_ptr<MessageQueue> queue = std::make_shared<MessageQueue>();
    std::unique_ptr<UiWorkers> real;
    WindowController ui;
    RecordingCanvas canvas;
    // Whether advance() paints an invalidated window.
    bool paints = true;

    WindowState& s() { return ui.state(); }

    void frame() {
        canvas.clear();
        host.dirty = false;
        ui.paint(canvas);
    }
    void send(UiMessage message) {
        queue->send(std::move(message));
        ui.worker_wake();
        frame();
    }
    void scan(std::vector<DeviceInfo> drives, SystemFacts facts = {}) {
        DriveScan scan;
        scan.drives = std::move(drives);
        scan.facts = std::move(facts);
        send(DriveScanFinished{std::move(scan)});
    }
    // The phase DeviceReady (or ImageReady without drives) with an unsigned image.
    void pick_and_accept(const std::string& path = "/tmp/image.iso",
                         ImageInspection inspection = unsigned_inspection()) {
        ui.picker_result(path);
        send(ImageInspected{s().image.request, path, std::move(inspection)});
    }
    // Presses and releases at a point in device-independent pixels (at 96 DPI).
    void click_at(float x, float y) {
        int px = static_cast<int>(x * static_cast<float>(s().geometry.dpi) / 96.0f);
        int py = static_cast<int>(y * static_cast<float>(s().geometry.dpi) / 96.0f);
        ui.button_down(px, py);
        ui.button_up(px, py);
        frame();
    }
    // Clicks the middle of the topmost region of an action; false when there is none.
    bool click(UiAction kind, std::optional<uint32_t> param = std::nullopt) {
        frame();
        const HitRegion* r = find_region(s(), kind, param);
        if (!r) return false;
        click_at(r->rect.x + r->rect.w / 2, r->rect.y + r->rect.h / 2);
        return true;
    }
    // Moves the fake clock and fires the timers that fall due, in time order.
    // An invalidated window is painted before the next timer fires, as a
    // real one is (unless `paints` is off).
    void advance(std::chrono::milliseconds d) {
        auto end = clock.now() + d;
        for (;;) {
            if (paints && host.dirty) frame();
            std::optional<std::pair<TimerId, Clock::TimePoint>> next;
            for (auto& [id, t] : host.timers)
                if (t.due <= end && (!next || t.due < next->second)) next = {{id, t.due}};
            if (!next) break;
            clock.advance(
                std::chrono::duration_cast<std::chrono::milliseconds>(next->second - clock.now()));
            host.timers[next->first].due += host.timers[next->first].period;
            ui.timer(next->first);
        }
        clock.advance(std::chrono::duration_cast<std::chrono::milliseconds>(end - clock.now()));
    }
};

}  // namespace sw::test
