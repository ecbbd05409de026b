#include "core/system.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>

#include "core/text.h"
#include "core/windows_version.h"
#include "platform/win/handle.h"
#include "platform/win/registry.h"
#include "platform/win/wide.h"

namespace sw::platform {

std::vector<std::string> command_line_args(int, char**) {
    std::vector<std::string> args;
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (argv == nullptr) return args;
    for (int i = 1; i < count; ++i)
        args.push_back(win::narrow(argv[i], wcslen(argv[i])));
    LocalFree(argv);
    return args;
}

std::optional<std::string> env_var(std::string_view name) {
    std::wstring wname = win::widen(name);
    SetLastError(ERROR_SUCCESS);
    DWORD needed = GetEnvironmentVariableW(wname.c_str(), nullptr, 0);
    if (needed == 0) {
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::string();
    }
    std::wstring value(needed, L'\0');
    DWORD n = GetEnvironmentVariableW(wname.c_str(), value.data(), needed);
    if (n >= needed) return std::nullopt;  // changed in between
    value.resize(n);
    if (!is_valid_utf16(std::u16string_view(reinterpret_cast<const char16_t*>(value.data()), n)))
        return std::nullopt;
    return win::narrow(value);
}

std::string system_description() {
    const wchar_t* key = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    auto opt = [](Result<std::string, OsError> r) -> std::optional<std::string> {
        if (r) return *r;
        return std::nullopt;
    };
    auto ubr = win::read_registry_dword(HKEY_LOCAL_MACHINE, key, L"UBR");
    return describe_windows(
        opt(win::read_registry_string(HKEY_LOCAL_MACHINE, key, L"ProductName")),
        opt(win::read_registry_string(HKEY_LOCAL_MACHINE, key, L"DisplayVersion")),
        opt(win::read_registry_string(HKEY_LOCAL_MACHINE, key, L"CurrentBuild")),
        ubr ? std::optional<uint32_t>(*ubr) : std::nullopt);
}

bool is_elevated() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
    win::Handle token(raw);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    BOOL ok = GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size);
    return ok && elevation.TokenIsElevated != 0;
}

void attach_parent_console() {
    // Output that is already redirected (a pipe or a file) stays where it is;
    // otherwise show it in the terminal that started us.
    bool redirected = GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) != FILE_TYPE_UNKNOWN;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    SetConsoleOutputCP(CP_UTF8);
    if (!redirected) {
        std::freopen("CONOUT$", "w", stdout);
        std::freopen("CONOUT$", "w", stderr);
    }
}

unsigned long process_id() {
    return GetCurrentProcessId();
}

std::optional<std::filesystem::path> current_executable() {
    std::wstring buf(512, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return std::nullopt;
        if (n < buf.size()) {
            buf.resize(n);
            return std::filesystem::path(buf);
        }
        if (buf.size() >= 32768) return std::nullopt;
        buf.resize(buf.size() * 2);
    }
}

Result<uint64_t, OsError> free_space(const std::filesystem::path& folder) {
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr))
        return unexpected(last_os_error());
    return static_cast<uint64_t>(available.QuadPart);
}

}  // namespace sw::platform
