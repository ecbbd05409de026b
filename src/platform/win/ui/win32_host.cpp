#include "platform/win/ui/win32_host.h"

#include <dwmapi.h>
#include <knownfolders.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>

#include "core/text.h"
#include "platform/win/registry.h"
#include "platform/win/wide.h"

namespace sw::win {

using Microsoft::WRL::ComPtr;

bool may_shell_open(std::string_view target) {
    if (target.empty()) return false;
    if (starts_with_ascii_ci(target, "https://")) {
        // One plain address: no spaces, quotes or controls for the shell to
        // read as arguments.
        for (unsigned char c : target)
            if (c <= 0x20 || c == '"' || c == 0x7F) return false;
        return true;
    }
    std::error_code ec;
    std::filesystem::path path(widen(target));
    return path.is_absolute() && std::filesystem::is_directory(path, ec);
}

std::optional<bool> query_high_contrast() {
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof(contrast);
    if (!SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0))
        return std::nullopt;
    return (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

Win32Host::Win32Host(HWND window, ComPtr<ITaskbarList3> taskbar)
    : window_(window), taskbar_(std::move(taskbar)) {}

void Win32Host::invalidate() {
    InvalidateRect(window_, nullptr, FALSE);
}

void Win32Host::set_timer(TimerId id, uint32_t period_ms) {
    // Setting a timer that runs replaces it, which restarts its period.
    SetTimer(window_, static_cast<UINT_PTR>(id), period_ms, nullptr);
}

void Win32Host::kill_timer(TimerId id) {
    KillTimer(window_, static_cast<UINT_PTR>(id));
}

void Win32Host::capture_pointer() {
    SetCapture(window_);
}

void Win32Host::release_pointer() {
    ReleaseCapture();
}

void Win32Host::track_pointer_leave() {
    TRACKMOUSEEVENT track{};
    track.cbSize = sizeof(track);
    track.dwFlags = TME_LEAVE;
    track.hwndTrack = window_;
    TrackMouseEvent(&track);
}

void Win32Host::set_cursor(CursorKind cursor) {
    HCURSOR handle = LoadCursorW(nullptr, cursor == CursorKind::Hand ? IDC_HAND : IDC_ARROW);
    if (handle) SetCursor(handle);
}

bool Win32Host::set_clipboard_text(std::string_view utf8) {
    std::wstring units = widen(utf8);
    const size_t bytes = (units.size() + 1) * sizeof(wchar_t);
    if (!OpenClipboard(window_)) return false;
    bool done = false;
    if (EmptyClipboard()) {
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
        if (memory) {
            if (void* target = GlobalLock(memory)) {
                std::memcpy(target, units.c_str(), bytes);
                GlobalUnlock(memory);
                // The clipboard owns the memory once it has taken it.
                done = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
            }
            if (!done) GlobalFree(memory);
        }
    }
    CloseClipboard();
    return done;
}

void Win32Host::shell_open(std::string_view target) {
    if (!may_shell_open(target)) return;
    ShellExecuteW(window_, L"open", widen(target).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void Win32Host::set_taskbar_state(TaskbarState state) {
    if (!taskbar_) return;
    TBPFLAG flag = state == TaskbarState::Indeterminate ? TBPF_INDETERMINATE
                   : state == TaskbarState::Normal      ? TBPF_NORMAL
                                                        : TBPF_NOPROGRESS;
    taskbar_->SetProgressState(window_, flag);
}

void Win32Host::set_taskbar_value(uint32_t value_of_1000) {
    if (taskbar_) taskbar_->SetProgressValue(window_, value_of_1000, 1000);
}

void Win32Host::block_shutdown(std::string_view reason) {
    ShutdownBlockReasonCreate(window_, widen(reason).c_str());
}

void Win32Host::unblock_shutdown() {
    ShutdownBlockReasonDestroy(window_);
}

void Win32Host::open_picker(std::string_view filter_name) {
    filter_name_ = widen(filter_name);
    PostMessageW(window_, kPickerMessage, 0, 0);
}

void Win32Host::destroy_window() {
    DestroyWindow(window_);
}

std::optional<std::string> Win32Host::run_picker() {
    ComPtr<IFileOpenDialog> dialog;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&dialog))))
        return std::nullopt;
    COMDLG_FILTERSPEC filter{filter_name_.c_str(), L"*.iso"};
    dialog->SetFileTypes(1, &filter);
    FILEOPENDIALOGOPTIONS options = 0;
    if (SUCCEEDED(dialog->GetOptions(&options)))
        dialog->SetOptions(options | FOS_FORCEFILESYSTEM | FOS_FILEMUSTEXIST);
    if (FAILED(dialog->Show(window_))) return std::nullopt;  // cancelled, or no dialog
    ComPtr<IShellItem> item;
    if (FAILED(dialog->GetResult(&item))) return std::nullopt;
    PWSTR path = nullptr;
    if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &path)) || !path) return std::nullopt;
    std::string chosen = narrow(path);
    CoTaskMemFree(path);
    return chosen;
}

ThemeQueries Win32Host::theme_queries() {
    ThemeQueries q;
    q.high_contrast = query_high_contrast();
    q.colors.window = GetSysColor(COLOR_WINDOW);
    q.colors.window_text = GetSysColor(COLOR_WINDOWTEXT);
    q.colors.highlight = GetSysColor(COLOR_HIGHLIGHT);
    q.colors.highlight_text = GetSysColor(COLOR_HIGHLIGHTTEXT);
    q.colors.gray_text = GetSysColor(COLOR_GRAYTEXT);
    q.colors.hot_light = GetSysColor(COLOR_HOTLIGHT);
    if (auto light = read_registry_dword(HKEY_CURRENT_USER,
                                         L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\"
                                         L"Personalize",
                                         L"AppsUseLightTheme"))
        q.apps_use_light_theme = *light;
    return q;
}

bool Win32Host::client_area_animation() {
    // "Show animations in Windows"; animate when the system cannot say.
    BOOL animate = TRUE;
    if (!SystemParametersInfoW(SPI_GETCLIENTAREAANIMATION, 0, &animate, 0)) return true;
    return animate != FALSE;
}

void Win32Host::set_frame(const FrameColors& frame) {
    // The attribute numbers of newer SDKs, spelt out for older headers.
    constexpr DWORD kDarkMode = 20, kCaptionColor = 35, kTextColor = 36;
    BOOL dark = frame.dark_mode ? TRUE : FALSE;
    DwmSetWindowAttribute(window_, kDarkMode, &dark, sizeof(dark));
    if (frame.caption) {
        COLORREF c = *frame.caption;
        DwmSetWindowAttribute(window_, kCaptionColor, &c, sizeof(c));
    }
    if (frame.text) {
        COLORREF c = *frame.text;
        DwmSetWindowAttribute(window_, kTextColor, &c, sizeof(c));
    }
}

std::optional<std::filesystem::path> Win32Host::downloads_folder() {
    PWSTR path = nullptr;
    std::optional<std::filesystem::path> folder;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Downloads, 0, nullptr, &path)) && path)
        folder = std::filesystem::path(path);
    CoTaskMemFree(path);
    return folder;
}

void Win32Host::announce(std::string_view text) {
    if (announcer_) announcer_(text);
}

}  // namespace sw::win
