// The floor under the window's first frame: a bare Win32 window that paints
// once with GDI and prints how long after its process was created that was.
// scripts/bench-first-frame.sh runs it beside the program.
//
// With --hold-desktop it instead keeps wine's desktop alive until it is
// killed: started first, with its output going nowhere, it makes the desktop
// process (and wine's services) that later test processes would otherwise
// start, and that would hold those tests' output pipes open for as long as
// they live.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string_view>

namespace {

uint64_t ms_since_start() {
    FILETIME created, exited, kernel, user, now;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    GetSystemTimeAsFileTime(&now);
    auto value = [](const FILETIME& t) {
        return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return value(now) > value(created) ? (value(now) - value(created)) / 10'000 : 0;
}

LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        FillRect(dc, &ps.rcPaint, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        TextOutW(dc, 20, 20, L"first paint", 11);
        EndPaint(window, &ps);
        std::printf("first paint %llu ms after process start\n",
                    static_cast<unsigned long long>(ms_since_start()));
        std::fflush(stdout);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int main(int argc, char** argv) {
    HINSTANCE module = GetModuleHandleW(nullptr);
    if (argc > 1 && std::string_view(argv[1]) == "--hold-desktop") {
        // A message-only window needs the desktop; waiting for messages
        // keeps it.
        HWND holder = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      module, nullptr);
        if (!holder) return 1;
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0)
            DispatchMessageW(&message);
        return 0;
    }
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof(cls);
    cls.lpfnWndProc = procedure;
    cls.hInstance = module;
    cls.lpszClassName = L"FirstPaintProbe";
    RegisterClassExW(&cls);
    HWND window = CreateWindowExW(0, cls.lpszClassName, L"first paint", WS_OVERLAPPEDWINDOW, 100,
                                  100, 560, 720, nullptr, nullptr, module, nullptr);
    if (!window) return 1;
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}
