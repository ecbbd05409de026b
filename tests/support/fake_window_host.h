// A window host that records every call, keeps the timers with their due
// times on a fake clock, and holds what was put on the clipboard.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/clock.h"
#include "ui/window_host.h"

namespace sw::test {

class FakeWindowHost final : public WindowHost {
  public:
    explicit FakeWindowHost(Clock& clock) : clock_(clock) {}

    void invalidate() override {
        ++invalidations;
        dirty = true;
    }
    void set_timer(TimerId id, uint32_t period_ms) override {
        record("set_timer " + std::to_string(static_cast<int>(id)) + " " +
               std::to_string(period_ms));
        timers[id] = Timer{std::chrono::milliseconds(period_ms),
                           clock_.now() + std::chrono::milliseconds(period_ms)};
    }
    void kill_timer(TimerId id) override {
        record("kill_timer " + std::to_string(static_cast<int>(id)));
        timers.erase(id);
    }
    void capture_pointer() override { record("capture"); }
    void release_pointer() override { record("release"); }
    void track_pointer_leave() override { record("track_leave"); }
    void set_cursor(CursorKind cursor) override {
        this->cursor = cursor;
        record(cursor == CursorKind::Hand ? "cursor hand" : "cursor arrow");
    }
    bool set_clipboard_text(std::string_view utf8) override {
        clipboard = std::string(utf8);
        record("clipboard");
        return true;
    }
    void shell_open(std::string_view target) override { record("open " + std::string(target)); }
    void set_taskbar_state(TaskbarState state) override {
        taskbar_state = state;
        ++taskbar_calls;
        if (inside) inside("taskbar");
    }
    void set_taskbar_value(uint32_t value) override { taskbar_value = value; }
    void block_shutdown(std::string_view reason) override {
        shutdown_blocked = true;
        record("block_shutdown " + std::string(reason));
    }
    void unblock_shutdown() override {
        shutdown_blocked = false;
        record("unblock_shutdown");
    }
    void open_picker(std::string_view filter_name) override {
        ++pickers;
        record("picker " + std::string(filter_name));
    }
    void destroy_window() override {
        destroyed = true;
        record("destroy");
    }
    ThemeQueries theme_queries() override { return queries; }
    void set_frame(const FrameColors& f) override {
        frame = f;
        record("frame");
    }
    std::optional<std::filesystem::path> downloads_folder() override { return downloads; }
    void announce(std::string_view text) override { announced.emplace_back(text); }
    bool client_area_animation() override { return animations; }

    bool timer_running(TimerId id) const { return timers.count(id) != 0; }
    size_t count(std::string_view call) const {
        size_t n = 0;
        for (const auto& c : calls)
            if (c == call) ++n;
        return n;
    }

    struct Timer {
        std::chrono::milliseconds period;
        Clock::TimePoint due;
    };
    std::map<TimerId, Timer> timers;
    std::vector<std::string> calls;
    int invalidations = 0;
    bool dirty = false;  // invalidated since the last frame
    // Runs inside a call, given its name, as the system may handle other
    // messages (or destroy the window) before a call returns.
    std::function<void(const std::string&)> inside;
    std::optional<CursorKind> cursor;
    std::string clipboard;
    TaskbarState taskbar_state = TaskbarState::None;
    int taskbar_calls = 0;
    uint32_t taskbar_value = 0;
    bool shutdown_blocked = false;
    int pickers = 0;
    bool destroyed = false;
    ThemeQueries queries;
    FrameColors frame;
    std::optional<std::filesystem::path> downloads;
    std::vector<std::string> announced;  // what a screen reader was told, in order
    bool animations = true;              // the system's "Show animations" setting

  private:
    void record(std::string call) {
        calls.push_back(call);
        if (inside) inside(call);
    }
    Clock& clock_;
};

}  // namespace sw::test
