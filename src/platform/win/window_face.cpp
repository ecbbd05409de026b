// The window face. Only its start is here so far: the window itself, its
// renderer and the message loop come with the user interface.
#include <windows.h>
#include <objbase.h>

#include "app/version.h"
#include "core/text.h"
#include "entry.h"
#include "logging/logger.h"
#include "platform/system.h"

namespace sw {

int run_window_face(std::shared_ptr<Machine>) {
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);  // failure tolerated
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (auto dir = log_directory()) Logger::init(*dir);
    Logger::write(LogLevel::Info, fmt("Ortivex Stickwright {} on {}", version_text(),
                                      platform::system_description()));
    Logger::write(LogLevel::Info, fmt("elevated={}", platform::is_elevated()));
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}

}  // namespace sw
