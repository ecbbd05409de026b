// The main window: its record (attached to the window as its user data) and
// the window procedure, which only translates Win32 messages into calls on
// the window logic.
#pragma once

#include <windows.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <memory>

#include "platform/win/ui/renderer.h"
#include "platform/win/ui/uia_provider.h"
#include "platform/win/ui/win32_host.h"
#include "ui/controller.h"
#include "ui/placement.h"

namespace sw {
class Machine;
}

namespace sw::win {

inline constexpr wchar_t kWindowClass[] = L"OrtivexStickwright";
inline constexpr wchar_t kWindowTitle[] = L"Ortivex Stickwright";
inline constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// What the window's UI Automation providers read (the last frame's tree)
// and act on: actions are posted to the window, which carries them out from
// its procedure as it does a click.
class ControllerA11ySource final : public UiaSource {
  public:
    ControllerA11ySource(HWND window, WindowController& controller)
        : window_(window), controller_(controller) {}
    const A11yTree& tree() const override { return controller_.state().last_frame.a11y; }
    double scale() const override { return controller_.state().geometry.dpi / 96.0; }
    void invoke(ElementId element) override;
    void focus(ElementId element) override;

  private:
    HWND window_;
    WindowController& controller_;
};

class MainWindow {
  public:
    // `initial` carries the DPI, settings, language, backdrop and paths that
    // start-up found; the workers run on `machine`.
    MainWindow(HWND window, std::shared_ptr<RenderFactories> factories,
               Microsoft::WRL::ComPtr<ITaskbarList3> taskbar, std::shared_ptr<Machine> machine,
               WindowState initial);
    ~MainWindow();

    WindowController& controller() { return controller_; }
    UiaWindow& uia() { return uia_; }
    LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);

    // The window procedure's hold on the record: a handler that destroys the
    // window (closing it, or a modal loop in which it is closed) still runs
    // on a live record, which is freed when the outermost handler returns.
    void enter() { ++depth_; }
    // True when the record is to be freed now.
    bool leave() { return --depth_ == 0 && destroyed_; }
    // The window is gone: true when the record is to be freed now.
    bool window_destroyed() {
        destroyed_ = true;
        return depth_ == 0;
    }

  private:
    void paint();
    void dpi_changed(UINT dpi, const RECT& suggested);

    HWND window_;
    bool reduced_ = false;  // laid out below its monitor's DPI, to fit
    int depth_ = 0;         // handlers running on this record
    bool destroyed_ = false;
    std::shared_ptr<MessageQueue> queue_;
    std::unique_ptr<UiWorkers> workers_;
    Win32Host host_;
    Renderer renderer_;
    WindowController controller_;  // it goes before what it uses
    // The screen reader's view goes first: providers that clients still hold
    // answer "not available" before anything they read is gone.
    ControllerA11ySource a11y_source_;
    UiaWindow uia_;
};

// The work area of `monitor`; empty when it cannot be read.
ScreenArea work_area(HMONITOR monitor);
// The DPI the window is laid out at on `monitor` at `dpi` (below 97 counts
// as 96): `dpi`, or less where the window would not fit the work area.
uint32_t layout_dpi(HMONITOR monitor, UINT dpi);
// The outer size of the window laid out at `layout` DPI with its frame at
// `dpi`; the client size when the frame cannot be measured.
SIZE window_size(uint32_t layout, UINT dpi);

// The class's window procedure: finds the MainWindow in the user data.
LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Milliseconds from the creation of this process to now; 0 when the clock
// went backwards or the process times cannot be read.
uint64_t ms_since_process_start();

}  // namespace sw::win
