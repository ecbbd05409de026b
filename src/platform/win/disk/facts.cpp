// Where Windows lives: environment, registry and the volume calls that
// locate a path. The rules decide what each answer means.
#include <windows.h>

#include <array>

#include "disk/facts.h"
#include "disk/platform_disks.h"
#include "core/system.h"
#include "platform/win/registry.h"
#include "platform/win/wide.h"

namespace sw::platform {

namespace {

class PathQuery : public WindowsPathQuery {
  public:
    Result<std::string, OsError> volume_path_name(const std::string& path) override {
        std::array<wchar_t, 1024> buf{};
        if (!GetVolumePathNameW(win::widen(path).c_str(), buf.data(), buf.size()))
            return unexpected(last_os_error());
        return win::narrow(buf.data(), buf.size());
    }
    Result<std::string, OsError> volume_name_for_mount_point(
        const std::string& mount_point) override {
        std::array<wchar_t, 64> buf{};
        if (!GetVolumeNameForVolumeMountPointW(win::widen(mount_point).c_str(), buf.data(),
                                               buf.size()))
            return unexpected(last_os_error());
        return win::narrow(buf.data(), buf.size());
    }
    bool is_remote_drive(const std::string& root) override {
        return GetDriveTypeW(win::widen(root).c_str()) == DRIVE_REMOTE;
    }
};

class FactsSource final : public WindowsFactsSource {
  public:
    std::optional<std::string> env(std::string_view name) override { return env_var(name); }
    Result<std::string, OsError> system_partition() override {
        return win::read_registry_string(HKEY_LOCAL_MACHINE, L"SYSTEM\\Setup", L"SystemPartition");
    }
    Result<std::vector<std::string>, OsError> existing_page_files() override {
        return win::read_registry_multi_string(
            HKEY_LOCAL_MACHINE,
            L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management",
            L"ExistingPageFiles");
    }
    Result<std::string, OsError> current_exe() override {
        std::wstring buf(512, L'\0');
        for (;;) {
            DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
            if (n == 0) return unexpected(last_os_error());
            if (n < buf.size()) return win::narrow(buf.data(), n);
            if (buf.size() >= 32768) return unexpected(os_error(ERROR_INSUFFICIENT_BUFFER));
            buf.resize(buf.size() * 2);
        }
    }
};

}  // namespace

Result<SystemPlaces, std::string> system_places() {
    FactsSource source;
    return windows_system_places(source);
}

DiskFact locate_path(const std::vector<VolumeInfo>& volumes, const std::string& path) {
    PathQuery query;
    return windows_disks_of_path(volumes, path, query);
}

}  // namespace sw::platform
