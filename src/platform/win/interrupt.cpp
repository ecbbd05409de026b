#include "core/interrupt.h"

#include <windows.h>

namespace sw::platform {

namespace {

std::atomic<std::atomic<bool>*> g_stop{nullptr};

// Runs on a thread the system starts for the event; answering TRUE keeps
// the process alive so that the job can end as cancelled.
BOOL WINAPI on_console_event(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    auto* stop = g_stop.load();
    if (stop == nullptr) return FALSE;
    stop->store(true);
    return TRUE;
}

}  // namespace

StopOnInterrupt::StopOnInterrupt(std::shared_ptr<std::atomic<bool>> stop) : stop_(std::move(stop)) {
    g_stop.store(stop_.get());
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

StopOnInterrupt::~StopOnInterrupt() {
    SetConsoleCtrlHandler(on_console_event, FALSE);
    g_stop.store(nullptr);
}

}  // namespace sw::platform
