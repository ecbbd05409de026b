// The window's logic: one call per window message, the state machine with
// its user actions and worker messages, the animations and timers. It owns
// the window state and reaches the system only through WindowHost, the jobs
// only through UiWorkers, time only through a Clock.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "core/clock.h"
#include "ui/announcements.h"
#include "ui/app_state.h"
#include "ui/canvas.h"
#include "ui/message_queue.h"
#include "ui/window_host.h"
#include "ui/window_state.h"
#include "ui/workers.h"

namespace sw {

// What an action asks the window to do once the handler has returned.
struct Effect {
    enum Kind { Nothing, OpenPicker, CloseWindow, OpenUrl, OpenFolder };
    Kind kind = Nothing;
    std::string target;  // OpenUrl, OpenFolder
};

enum class Key : uint8_t { Tab, Enter, Space, Escape, Up, Down, Other };

// Durations of the animations, in seconds.
inline constexpr double kScreenFade = 0.24;
inline constexpr double kOverlayFade = 0.18;
inline constexpr double kSwitchAnimation = 0.16;
inline constexpr double kHoverIn = 0.12;
inline constexpr double kHoverOut = 0.16;
inline constexpr double kCopiedMark = 1.6;
inline constexpr double kCompleteAnimation = 1.2;
inline constexpr uint32_t kAnimationPeriodMs = 16;
inline constexpr uint32_t kRescanDelayMs = 350;
inline constexpr float kWheelStep = 40;

class WindowController {
  public:
    WindowController(WindowHost& host, UiWorkers& workers, std::shared_ptr<MessageQueue> queue,
                     Clock& clock, WindowState initial = {});

    WindowState& state() { return state_; }
    const WindowState& state() const { return state_; }
    // Seconds since the controller was made.
    double now() const;
    // An animation's duration, or none when the system shows no animations:
    // fades and slides become cuts.
    double motion(double seconds) const;

    // Start: the palette, the first drive scan, the release and update checks.
    void start();
    // A process without administrator rights can write nothing: the window
    // opens on the failed screen that says so.
    void show_unelevated();

    // --- Window messages ---------------------------------------------------
    // Builds a frame; the first one is logged with the time since the
    // process started (as the host measured it).
    void paint(Canvas& canvas, std::optional<uint64_t> ms_since_process_start = std::nullopt);
    // False while a handler runs (a paint asked for from inside a modal loop
    // it started): the frame is then drawn once the handler has returned.
    bool ready_to_paint();
    void size(uint32_t width, uint32_t height);
    void dpi_changed(uint32_t dpi);
    void settings_changed();
    void mouse_move(int x, int y);  // physical pixels
    void mouse_leave();
    void button_down(int x, int y);
    void button_up(int x, int y);
    void wheel(int delta);
    // Only for the client area; the cursor is given to the host.
    void set_cursor();
    void key_down(Key key, bool shift);
    void timer(TimerId id);
    void device_change();
    void worker_wake();
    void picker_result(const std::optional<std::string>& path);
    // An assistive technology acts on an element: invoking runs what a click
    // on it would, with the same guards; the element must be in the last
    // frame and enabled, else nothing happens. Focusing moves the keyboard
    // focus there, shown as keyboard focus is.
    void invoke(ElementId element);
    void focus_element(ElementId element);
    // Every handler that may carry out an effect does so last: closing
    // destroys the window, and with it this controller.
    void close();
    bool query_end_session() const;
    void destroy();

    // --- The state machine -------------------------------------------------
    bool dispatch_event(AppEvent event);
    Effect perform_action(ElementId action);
    void handle_message(UiMessage& message);
    void select_image(const std::string& path, std::optional<Sha256Digest> download_digest);
    void select_drive(uint32_t number);
    void request_scan();
    void open_overlay(Overlay overlay);
    void close_overlay();
    // "{}\n{}\n\n{}\n\nlog: {}" with the failure's title, advice, details and the log file.
    std::string failure_details_text() const;
    // The animation tick.
    void animation_tick();
    void update_animation_timer();
    bool animation_needed() const;
    // The hit region under a point in device-independent pixels, topmost first.
    const HitRegion* hit_test(float x, float y) const;
    // Device-independent pixels of a physical coordinate.
    float to_dip(int physical) const;

  private:
    // Marks that a handler runs, so that a message arriving from inside a
    // modal loop the handler started is not processed against a
    // half-updated state; what such a message asked for is done when the
    // handler ends.
    struct Guard {
        explicit Guard(WindowController& ui) : ui_(ui), entered_(!ui.busy_) {
            if (entered_) ui_.busy_ = true;
        }
        ~Guard() { release(); }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;
        // Ends the handler. An effect carried out after this may destroy the
        // window and the controller with it: nothing may touch either after it.
        void release() {
            if (!entered_) return;
            entered_ = false;
            ui_.busy_ = false;
            ui_.after_handler();
        }
        bool entered() const { return entered_; }
        WindowController& ui_;
        bool entered_;
    };
    // Actions (actions.cpp).
    void toggle_panel();
    std::optional<std::filesystem::path> downloads_folder();
    void start_download();
    void write_action(UiAction action);
    void accept_erase();
    void end_write_screen();
    void setting_action(ElementId action);
    void check_drive();
    void restore_action(UiAction action);
    void accept_restore();
    // Keys (input.cpp).
    void move_focus(bool backwards);
    void escape();
    void select_next_drive(bool up);
    void carry_out(const Effect& effect);
    // What messages refused while a handler ran asked for.
    void after_handler();
    // Scrolls the content so that the element is in sight.
    void reveal(ElementId id);
    void on_phase_changed();
    void set_hovered(ElementId id);
    void apply_theme();
    void save_settings();
    void start_write_on(const DeviceInfo& drive);
    void release_write();
    void catch_up_and_complete();
    void apply_write_phases(WritePhase published);
    void on_scan(DriveScanFinished& scan);
    void on_inspected(ImageInspected& message);
    void on_content_checked(ImageContentChecked& message);
    void on_write_finished(WriteFinished& message);
    void start_restore_on(const DeviceInfo& drive);
    void begin_job(std::optional<WriteJob> handles, const DeviceInfo& drive, bool verify,
                   TextId running_title);
    void on_restore_finished(RestoreFinished& message);
    void image_accepted();
    void image_refused(const ValidationError& error);

    WindowHost& host_;
    UiWorkers& workers_;
    std::shared_ptr<MessageQueue> queue_;
    Clock& clock_;
    Clock::TimePoint origin_;
    WindowState state_;
    bool busy_ = false;
    bool wake_put_off_ = false;
    bool paint_put_off_ = false;
    Announced announced_;
};

}  // namespace sw
