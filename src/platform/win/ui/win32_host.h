// What the window logic asks of the system, done with Win32 on one window.
// Every call tolerates failure: the feature it serves is skipped.
#pragma once

#include <windows.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <functional>
#include <string>

#include "ui/window_host.h"

namespace sw::win {

// Posted by any worker after appending to the window's queue.
inline constexpr UINT kWakeMessage = WM_APP + 1;
// Posted by the window to itself, so that the picker's modal loop runs
// outside the handler that asked for it.
inline constexpr UINT kPickerMessage = WM_APP + 2;
// Posted by the UI Automation providers, so that what a screen reader asks
// for runs from the window procedure as a click does: the action's kind in
// wParam, its parameter in lParam.
inline constexpr UINT kInvokeMessage = WM_APP + 3;
inline constexpr UINT kFocusMessage = WM_APP + 4;

// Only secure web addresses and existing folders are handed to the shell:
// anything else could start a program.
bool may_shell_open(std::string_view target);

// Whether the system's high-contrast mode is on; none when it cannot be asked.
std::optional<bool> query_high_contrast();

class Win32Host final : public WindowHost {
  public:
    Win32Host(HWND window, Microsoft::WRL::ComPtr<ITaskbarList3> taskbar);

    void invalidate() override;
    void set_timer(TimerId id, uint32_t period_ms) override;
    void kill_timer(TimerId id) override;
    void capture_pointer() override;
    void release_pointer() override;
    void track_pointer_leave() override;
    void set_cursor(CursorKind cursor) override;
    bool set_clipboard_text(std::string_view utf8) override;
    void shell_open(std::string_view target) override;
    void set_taskbar_state(TaskbarState state) override;
    void set_taskbar_value(uint32_t value_of_1000) override;
    void block_shutdown(std::string_view reason) override;
    void unblock_shutdown() override;
    void open_picker(std::string_view filter_name) override;
    void destroy_window() override;
    ThemeQueries theme_queries() override;
    bool client_area_animation() override;
    void set_frame(const FrameColors& frame) override;
    std::optional<std::filesystem::path> downloads_folder() override;
    void announce(std::string_view text) override;

    // Where announcements go (the window's UI Automation).
    void set_announcer(std::function<void(std::string_view)> announcer) {
        announcer_ = std::move(announcer);
    }

    // The picker asked for by open_picker: the chosen file, if any.
    std::optional<std::string> run_picker();

  private:
    HWND window_;
    Microsoft::WRL::ComPtr<ITaskbarList3> taskbar_;
    std::wstring filter_name_;
    std::function<void(std::string_view)> announcer_;
};

}  // namespace sw::win
