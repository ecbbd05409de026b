// Shared pieces of the Windows drive adapters.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "core/os_error.h"
#include "core/result.h"
#include "platform/win/handle.h"

namespace sw::win {

// Issues control code `code` without input or output buffers on `handle`
// (opened for overlapped I/O) and waits at most `ms`. A request that runs
// out of time is cancelled, and settled before returning, and fails with
// "control code 0x{} timed out after {} ms".
Result<void, OsError> control_with_timeout(HANDLE handle, DWORD code, DWORD ms);

// "\\.\PhysicalDrive{}"
std::wstring physical_drive_path(uint32_t number);
// N of a "\\.\PhysicalDriveN" path (the prefix in any case); none for other paths.
std::optional<uint32_t> physical_drive_number(const std::string& path);

}  // namespace sw::win
