#include "core/os_error.h"

#include <windows.h>

#include "core/text.h"
#include "platform/win/wide.h"

namespace sw {

namespace {

constexpr DWORD kErrorNoSuchDevice = 433;  // mingw's headers lack ERROR_NO_SUCH_DEVICE

unsigned traits_of(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return kDisconnected | kNotFound;
        case ERROR_NOT_READY:
        case ERROR_NO_MEDIA_IN_DRIVE:
            return kDisconnected | kNotReady;
        case ERROR_INVALID_HANDLE:
        case ERROR_BAD_UNIT:
        case ERROR_DEV_NOT_EXIST:
        case kErrorNoSuchDevice:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED:
            return kDisconnected;
        case ERROR_MEDIA_CHANGED:
            return kMediaChanged;
        case ERROR_WRITE_PROTECT:
            return kWriteProtected;
        case ERROR_TIMEOUT:
        case WAIT_TIMEOUT:
            return kTimedOut;
        case ERROR_ACCESS_DENIED:
            return kAccessDenied;
        default:
            return 0;
    }
}

std::string system_message(DWORD code) {
    wchar_t* buffer = nullptr;
    DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (n != 0 && buffer != nullptr) text = win::narrow(buffer, n);
    if (buffer != nullptr) LocalFree(buffer);
    text = std::string(trim(text));
    if (text.empty()) text = fmt("Unknown error {}", static_cast<unsigned long>(code));
    return text;
}

}  // namespace

OsError os_error(int code) {
    DWORD c = static_cast<DWORD>(code);
    return OsError{code, fmt("{} (os error {})", system_message(c), code), traits_of(c)};
}

OsError last_os_error() {
    return os_error(static_cast<int>(GetLastError()));
}

OsError os_timeout_error() {
    return os_error(ERROR_TIMEOUT);
}

}  // namespace sw
