#include "core/process.h"

#include <windows.h>

#include <cstdint>

namespace sw::platform {

void keep_system_awake(bool required) {
    SetThreadExecutionState(required ? (ES_CONTINUOUS | ES_SYSTEM_REQUIRED) : ES_CONTINUOUS);
}

double process_cpu_seconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    auto seconds = [](const FILETIME& t) {
        uint64_t ticks = (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
        return static_cast<double>(ticks) / 1e7;  // 100 ns units
    };
    return seconds(kernel) + seconds(user);
}

unsigned logical_processors() {
    DWORD n = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    return static_cast<unsigned>(n);
}

}  // namespace sw::platform
