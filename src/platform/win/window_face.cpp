// The window face: the process-wide set-up in its fixed order, the main
// window, and its message loop. Failures of optional features are tolerated;
// failing to create the window or its drawing objects ends quietly, with the
// log holding what was written so far.
#include <windows.h>
#include <dbt.h>
#include <dwmapi.h>
#include <initguid.h>
#include <objbase.h>
#include <shobjidl.h>
#include <usbiodef.h>
#include <winioctl.h>
#include <wrl/client.h>

#include "core/version.h"
#include "core/text.h"
#include "entry.h"
#include "i18n/strings.h"
#include "logging/logger.h"
#include "core/system.h"
#include "platform/win/registry.h"
#include "platform/win/ui/main_window.h"
#include "ui/backdrop.h"
#include "ui/placement.h"
#include "ui/preferences.h"

namespace sw {

namespace {

using Microsoft::WRL::ComPtr;

void log_info(std::string_view line) {
    Logger::write(LogLevel::Info, line);
}

// Decides and, where it applies, asks for the system backdrop; true when on.
bool apply_backdrop(HWND window) {
    std::optional<uint32_t> build;
    if (auto text = win::read_registry_string(HKEY_LOCAL_MACHINE,
                                              L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                                              L"CurrentBuild"))
        build = parse_build_number(*text);
    const bool contrast = win::query_high_contrast().value_or(false);
    std::optional<uint32_t> transparency;
    if (build && *build >= kFirstBackdropBuild && !contrast) {
        if (auto v = win::read_registry_dword(
                HKEY_CURRENT_USER,
                L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
                L"EnableTransparency"))
            transparency = *v;
    }
    BackdropChoice choice = choose_backdrop(build, contrast, transparency);
    if (!choice.request) {
        log_info(fmt("acrylic backdrop off (build {})", choice.build));
        return false;
    }
    constexpr DWORD kSystemBackdropType = 38, kTransientWindow = 3;
    DWORD kind = kTransientWindow;
    bool on = SUCCEEDED(DwmSetWindowAttribute(window, kSystemBackdropType, &kind, sizeof(kind)));
    MARGINS margins{-1, -1, -1, -1};
    on = SUCCEEDED(DwmExtendFrameIntoClientArea(window, &margins)) && on;
    log_info(fmt("acrylic backdrop {}", on ? "on" : "unavailable"));
    return on;
}

// Disk arrivals and removals come to the window as WM_DEVICECHANGE.
void register_disk_notices(HWND window) {
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = GUID_DEVINTERFACE_DISK;
    RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);  // failure ignored
}

ComPtr<ITaskbarList3> create_taskbar() {
    ComPtr<ITaskbarList3> taskbar;
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&taskbar))) ||
        FAILED(taskbar->HrInit()))
        return nullptr;
    return taskbar;
}

struct ComApartment {
    ComApartment() : result(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment() {
        if (SUCCEEDED(result)) CoUninitialize();
    }
    HRESULT result;
};

int open_window(std::shared_ptr<Machine> machine) {
    bool elevated = machine->elevated();
    log_info(fmt("elevated={}", elevated));

    HINSTANCE module = GetModuleHandleW(nullptr);
    if (!module) return 0;
    HICON icon = LoadIconW(module, MAKEINTRESOURCEW(1));
    HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);

    WNDCLASSEXW cls{};
    cls.cbSize = sizeof(cls);
    cls.style = CS_HREDRAW | CS_VREDRAW;
    cls.lpfnWndProc = win::window_procedure;
    cls.hInstance = module;
    cls.hIcon = icon;
    cls.hIconSm = icon;
    cls.hCursor = arrow;
    cls.lpszClassName = win::kWindowClass;
    RegisterClassExW(&cls);

    // Sized at the system DPI, made smaller where the primary screen's work
    // area cannot hold it, and centred with its caption in reach.
    const UINT system_dpi = GetDpiForSystem();
    const HMONITOR primary = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    const SIZE size = win::window_size(win::layout_dpi(primary, system_dpi), system_dpi);
    const int width = size.cx, height = size.cy;
    const WindowOrigin origin =
        window_origin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                      win::work_area(primary), width, height);
    const int x = origin.x, y = origin.y;

    HWND window = CreateWindowExW(0, win::kWindowClass, win::kWindowTitle, win::kWindowStyle, x, y,
                                  width, height, nullptr, nullptr, module, nullptr);
    if (!window) return 0;

    WindowState initial;
    initial.geometry.dpi = win::layout_dpi(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST),
                                           GetDpiForWindow(window));
    RECT client{};
    if (GetClientRect(window, &client)) {
        initial.geometry.client_width = static_cast<uint32_t>(client.right);
        initial.geometry.client_height = static_cast<uint32_t>(client.bottom);
    }
    auto log_dir = log_directory();
    initial.log_folder = log_dir;
    initial.settings_file = settings_path(log_dir);
    initial.appearance.prefs = load_preferences_from(initial.settings_file);

    std::shared_ptr<win::RenderFactories> factories = win::create_render_factories();
    if (!factories) {
        DestroyWindow(window);
        return 0;
    }
    ComPtr<ITaskbarList3> taskbar = create_taskbar();
    initial.appearance.prefs.lang = static_cast<uint8_t>(
        choose_language(initial.appearance.prefs.lang, GetUserDefaultUILanguage()));
    initial.appearance.backdrop = apply_backdrop(window);

    auto* main = new win::MainWindow(window, std::move(factories), std::move(taskbar),
                                     std::move(machine), std::move(initial));
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(main));

    register_disk_notices(window);
    // The palette and frame, the first drive scan, the release check.
    main->controller().start();
    if (!elevated) main->controller().show_unelevated();

    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

}  // namespace

int run_window_face(std::shared_ptr<Machine> machine) {
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);  // failure tolerated
    ComApartment com;
    if (auto dir = log_directory()) Logger::init(*dir);
    log_info(fmt("Ortivex Stickwright {} on {}", version_text(), platform::system_description()));
    open_window(std::move(machine));
    return 0;
}

}  // namespace sw
