#include <windows.h>
#include <winioctl.h>

#include "core/text.h"
#include "disk/raw_device.h"
#include "platform/win/disk/win_disk.h"
#include "platform/win/wide.h"

namespace sw::win {

std::wstring physical_drive_path(uint32_t number) {
    return widen(fmt("\\\\.\\PhysicalDrive{}", number));
}

std::optional<uint32_t> physical_drive_number(const std::string& path) {
    constexpr std::string_view kPrefix = "\\\\.\\PhysicalDrive";
    if (!starts_with_ascii_ci(path, kPrefix)) return std::nullopt;
    return parse_u32_decimal(std::string_view(path).substr(kPrefix.size()));
}

Result<void, OsError> control_with_timeout(HANDLE handle, DWORD code, DWORD ms) {
    Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event.valid()) return unexpected(last_os_error());
    OVERLAPPED ov{};
    ov.hEvent = event.get();
    DWORD got = 0;
    if (DeviceIoControl(handle, code, nullptr, 0, nullptr, 0, &got, &ov)) return {};
    DWORD err = GetLastError();
    if (err != ERROR_IO_PENDING) return unexpected(os_error(static_cast<int>(err)));

    DWORD waited = WaitForSingleObject(event.get(), ms);
    if (waited == WAIT_OBJECT_0) {
        if (!GetOverlappedResult(handle, &ov, &got, FALSE)) return unexpected(last_os_error());
        return {};
    }
    OsError failure = waited == WAIT_TIMEOUT ? control_timeout_error(code, ms) : last_os_error();
    // The request still refers to `ov` on this stack: it must be settled
    // before returning, whatever ended the wait.
    CancelIoEx(handle, &ov);
    GetOverlappedResult(handle, &ov, &got, TRUE);
    return unexpected(failure);
}

}  // namespace sw::win
