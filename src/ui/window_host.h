// Everything the window logic asks of the system, and nothing more: the
// Win32 window implements it, tests record it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

#include "ui/palette.h"

namespace sw {

enum class TimerId : uint32_t { Animation = 1, DeviceChange = 2 };
enum class TaskbarState : uint8_t { None, Indeterminate, Normal };
enum class CursorKind : uint8_t { Arrow, Hand };

class WindowHost {
  public:
    virtual ~WindowHost() = default;
    virtual void invalidate() = 0;
    // Starts the timer, or restarts it when it runs.
    virtual void set_timer(TimerId id, uint32_t period_ms) = 0;
    virtual void kill_timer(TimerId id) = 0;
    virtual void capture_pointer() = 0;
    virtual void release_pointer() = 0;
    // Asks for one mouse-leave notice.
    virtual void track_pointer_leave() = 0;
    virtual void set_cursor(CursorKind cursor) = 0;
    virtual bool set_clipboard_text(std::string_view utf8) = 0;
    // The shell's "open" verb on a URL or folder.
    virtual void shell_open(std::string_view target) = 0;
    virtual void set_taskbar_state(TaskbarState state) = 0;
    virtual void set_taskbar_value(uint32_t value_of_1000) = 0;
    virtual void block_shutdown(std::string_view reason) = 0;
    virtual void unblock_shutdown() = 0;
    // Shows the file picker outside the current handler; the answer comes
    // back through the controller's picker call. `filter_name` names "*.iso".
    virtual void open_picker(std::string_view filter_name) = 0;
    virtual void destroy_window() = 0;
    // The three answers the palette is computed from.
    virtual ThemeQueries theme_queries() = 0;
    // Dark mode, caption and caption text colours of the frame.
    virtual void set_frame(const FrameColors& frame) = 0;
    // The user's Downloads folder, if the system can name it.
    virtual std::optional<std::filesystem::path> downloads_folder() = 0;
    // Whether the user lets windows animate; when not, fades become cuts.
    virtual bool client_area_animation() { return true; }
    // Tells a screen reader, once, what changed without the user acting.
    virtual void announce(std::string_view text) { (void)text; }
};

}  // namespace sw
