#include "platform/win/ui/main_window.h"

#include <windowsx.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/clock.h"
#include "i18n/strings.h"
#include "machine/machine.h"
#include "platform/win/wide.h"
#include "ui/view.h"

namespace sw::win {

namespace {

Key key_of(WPARAM virtual_key) {
    switch (virtual_key) {
        case VK_TAB:
            return Key::Tab;
        case VK_RETURN:
            return Key::Enter;
        case VK_SPACE:
            return Key::Space;
        case VK_ESCAPE:
            return Key::Escape;
        case VK_UP:
            return Key::Up;
        case VK_DOWN:
            return Key::Down;
        default:
            return Key::Other;
    }
}

uint64_t file_time_value(const FILETIME& t) {
    return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// What the frame is cleared to: the background, or with the system backdrop
// the background made translucent so that the backdrop shows through.
Rgba clear_colour(const WindowState& s) {
    Rgba c = s.appearance.palette[Slot::Background];
    if (s.appearance.backdrop && !s.appearance.palette.high_contrast)
        c.a = s.appearance.palette.is_dark ? 0.58f : 0.5f;
    return c;
}

// A scaled length: not a number counts as 0, beyond 32 bits as the largest.
int scaled(double base, double scale) {
    double v = std::round(base * scale);
    if (std::isnan(v) || v < 0) return 0;
    if (v > double(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
    return static_cast<int>(v);
}

// An element of the window as the accessibility thread posts it.
ElementId element_of(WPARAM wparam, LPARAM lparam) {
    return ElementId{static_cast<UiAction>(wparam), static_cast<uint32_t>(lparam)};
}

}  // namespace

ScreenArea work_area(HMONITOR monitor) {
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (monitor == nullptr || !GetMonitorInfoW(monitor, &info)) return {};
    return {info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom};
}

uint32_t layout_dpi(HMONITOR monitor, UINT dpi) {
    dpi = dpi < 97 ? 96 : dpi;
    RECT frame{0, 0, 0, 0};
    if (!AdjustWindowRectExForDpi(&frame, kWindowStyle, FALSE, 0, dpi)) frame = {};
    return fitting_dpi(dpi, frame.right - frame.left, frame.bottom - frame.top, work_area(monitor));
}

SIZE window_size(uint32_t layout, UINT dpi) {
    const double scale = double(layout) / 96.0;
    RECT client{0, 0, scaled(kClientWidth, scale), scaled(kClientHeight, scale)};
    RECT outer = client;
    if (!AdjustWindowRectExForDpi(&outer, kWindowStyle, FALSE, 0, dpi)) outer = client;
    return {outer.right - outer.left, outer.bottom - outer.top};
}

uint64_t ms_since_process_start() {
    FILETIME created, exited, kernel, user, now;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    GetSystemTimeAsFileTime(&now);
    uint64_t from = file_time_value(created), to = file_time_value(now);
    return to > from ? (to - from) / 10'000 : 0;  // 100 ns units
}

MainWindow::MainWindow(HWND window, std::shared_ptr<RenderFactories> factories,
                       Microsoft::WRL::ComPtr<ITaskbarList3> taskbar,
                       std::shared_ptr<Machine> machine, WindowState initial)
    : window_(window),
      queue_(std::make_shared<MessageQueue>()),
      workers_(make_real_workers(std::move(machine), queue_)),
      host_(window, std::move(taskbar)),
      renderer_(std::move(factories)),
      controller_(host_, *workers_, queue_, real_clock(), std::move(initial)),
      a11y_source_(window, controller_),
      uia_(window, a11y_source_) {
    host_.set_announcer([this](std::string_view text) { uia_.announce(text); });
    // A post to a window that is gone fails harmlessly, and the controller
    // drops the waker when the window is destroyed.
    queue_->set_waker([window] { PostMessageW(window, kWakeMessage, 0, 0); });
    renderer_.attach_window(window, controller_.state().appearance.backdrop);
    renderer_.set_dpi(controller_.state().geometry.dpi);
    reduced_ = controller_.state().geometry.dpi < std::max<UINT>(GetDpiForWindow(window), 96);
}

MainWindow::~MainWindow() {
    queue_->clear_waker();
    host_.set_announcer(nullptr);
}

void ControllerA11ySource::invoke(ElementId element) {
    PostMessageW(window_, kInvokeMessage, static_cast<WPARAM>(element.kind), element.param);
}

void ControllerA11ySource::focus(ElementId element) {
    PostMessageW(window_, kFocusMessage, static_cast<WPARAM>(element.kind), element.param);
}

void MainWindow::paint() {
    if (!controller_.ready_to_paint()) {
        // Asked for from inside a handler's modal loop: drawn once it returns.
        ValidateRect(window_, nullptr);
        return;
    }
    const WindowState& s = controller_.state();
    RECT client{};
    GetClientRect(window_, &client);
    renderer_.set_palette(s.appearance.palette);
    renderer_.set_locale(widen(locale_name(language_from_value(s.appearance.prefs.lang))));
    const auto width = static_cast<uint32_t>(client.right - client.left);
    const auto height = static_cast<uint32_t>(client.bottom - client.top);
    if (renderer_.begin_frame(width, height, clear_colour(s))) {
        std::optional<uint64_t> since_start;
        if (!s.last_frame.first_logged) since_start = ms_since_process_start();
        controller_.paint(renderer_, since_start);
        renderer_.end_frame();
    }
    // Validated even when no frame could be drawn, so that no paint loop
    // results; the next tick or input repaints.
    ValidateRect(window_, nullptr);
    controller_.update_animation_timer();
    uia_.frame_painted();
}

void MainWindow::dpi_changed(UINT dpi, const RECT& suggested) {
    const uint32_t layout = layout_dpi(MonitorFromRect(&suggested, MONITOR_DEFAULTTONEAREST), dpi);
    controller_.dpi_changed(layout);
    renderer_.set_dpi(controller_.state().geometry.dpi);
    // The system suggests the window's present size scaled to the new DPI,
    // right for a window at its monitor's scale; one made smaller to fit,
    // now or before, is sized for its layout instead.
    RECT r = suggested;
    const bool reduced = layout < std::max<UINT>(dpi, 96);
    if (reduced || reduced_) {
        SIZE size = window_size(layout, dpi);
        r.right = r.left + size.cx;
        r.bottom = r.top + size.cy;
    }
    reduced_ = reduced;
    SetWindowPos(window_, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT MainWindow::handle(UINT message, WPARAM wparam, LPARAM lparam) {
    WindowController& ui = controller_;
    switch (message) {
        case WM_PAINT:
            paint();
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_SIZE:
            ui.size(LOWORD(lparam), HIWORD(lparam));
            renderer_.resize(LOWORD(lparam), HIWORD(lparam));
            return 0;
        case WM_DPICHANGED:
            dpi_changed(LOWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
            return 0;
        case WM_SETTINGCHANGE:
        case WM_SYSCOLORCHANGE:
        case WM_THEMECHANGED:
            ui.settings_changed();
            break;
        case WM_MOUSEMOVE:
            ui.mouse_move(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam));
            return 0;
        case WM_MOUSELEAVE:
            ui.mouse_leave();
            return 0;
        case WM_LBUTTONDOWN:
            ui.button_down(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam));
            return 0;
        case WM_LBUTTONUP:
            ui.button_up(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam));
            return 0;
        case WM_MOUSEWHEEL:
            ui.wheel(GET_WHEEL_DELTA_WPARAM(wparam));
            return 0;
        case WM_SETCURSOR:
            if (LOWORD(lparam) != HTCLIENT) break;
            ui.set_cursor();
            return 1;
        case WM_KEYDOWN:
            ui.key_down(key_of(wparam), GetKeyState(VK_SHIFT) < 0);
            return 0;
        case WM_TIMER:
            if (wparam == UINT_PTR(TimerId::DeviceChange) || wparam == UINT_PTR(TimerId::Animation))
                ui.timer(static_cast<TimerId>(wparam));
            return 0;
        case WM_DEVICECHANGE:
            ui.device_change();
            return 1;
        case kWakeMessage:
            ui.worker_wake();
            return 0;
        case kPickerMessage:
            ui.picker_result(host_.run_picker());
            return 0;
        case kInvokeMessage:
            ui.invoke(element_of(wparam, lparam));
            return 0;
        case kFocusMessage:
            ui.focus_element(element_of(wparam, lparam));
            return 0;
        case WM_GETOBJECT:
            if (auto answer = uia_.get_object(wparam, lparam)) return *answer;
            break;
        case WM_CLOSE:
            ui.close();
            return 0;
        case WM_QUERYENDSESSION:
            return ui.query_end_session() ? TRUE : FALSE;
        case WM_DESTROY:
            uia_.window_destroyed();
            ui.destroy();
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window_, message, wparam, lparam);
}

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* state = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!state) return DefWindowProcW(window, message, wparam, lparam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        if (state->window_destroyed()) delete state;
        return DefWindowProcW(window, message, wparam, lparam);
    }
    state->enter();
    LRESULT result = state->handle(message, wparam, lparam);
    if (state->leave()) delete state;
    return result;
}

}  // namespace sw::win
