// The volume walk: each volume's disks, NT device name and mount paths.
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <array>

#include "disk/windows_drive_records.h"
#include "disk/platform_disks.h"
#include "platform/win/disk/win_disk.h"
#include "platform/win/wide.h"

namespace sw::platform {

namespace {

// Zero-terminated strings one after the other, up to an empty one or `units`.
std::vector<std::string> split_multi(const wchar_t* data, size_t units) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < units && data[i] != L'\0') {
        size_t len = wcsnlen(data + i, units - i);
        out.push_back(win::narrow(data + i, len));
        i += len + 1;
    }
    return out;
}

VolumeInfo describe_volume(const std::wstring& name) {
    VolumeInfo v;
    v.name = win::narrow(name);
    std::wstring trimmed = win::widen(trim_trailing_backslashes(v.name));

    win::Handle h(CreateFileW(trimmed.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr));
    if (h.valid()) {
        std::array<char, 776> out{};  // room for 32 extents
        DWORD got = 0;
        std::optional<std::string> extents;
        if (DeviceIoControl(h.get(), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, out.data(),
                            out.size(), &got, nullptr))
            extents = std::string(out.data(), got);
        v.disks = disks_from_extents(extents);
    }

    std::wstring dos = win::widen(strip_verbatim_prefixes(win::narrow(trimmed)));
    std::array<wchar_t, 512> target{};
    if (QueryDosDeviceW(dos.c_str(), target.data(), target.size()) != 0)
        v.device = win::narrow(target.data(), target.size());

    std::array<wchar_t, 1024> paths{};
    DWORD returned = 0;
    if (GetVolumePathNamesForVolumeNameW(name.c_str(), paths.data(), paths.size(), &returned)) {
        v.mount_points = split_multi(paths.data(), std::min<size_t>(paths.size(), returned));
        v.letters = letters_from_mount_paths(v.mount_points);
    }
    return v;
}

}  // namespace

Result<std::vector<VolumeInfo>, OsError> enumerate_system_volumes() {
    std::array<wchar_t, 64> name{};
    HANDLE find = FindFirstVolumeW(name.data(), name.size());
    if (find == INVALID_HANDLE_VALUE) return unexpected(last_os_error());
    std::vector<VolumeInfo> volumes;
    do {
        volumes.push_back(
            describe_volume(std::wstring(name.data(), wcsnlen(name.data(), name.size()))));
    } while (FindNextVolumeW(find, name.data(), name.size()));
    FindVolumeClose(find);
    return volumes;
}

}  // namespace sw::platform
