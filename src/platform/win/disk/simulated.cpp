// What simulated drives need from Windows (development builds only).
#include <windows.h>
#include <winioctl.h>

#include "core/text.h"
#include "disk/windows_drive_records.h"
#include "disk/platform_disks.h"
#include "disk/simulated/backing.h"
#include "platform/win/disk/win_disk.h"
#include "platform/win/wide.h"

namespace sw::platform {

std::optional<FileIdentity> file_identity(const std::string& path) {
    win::Handle h(CreateFileW(win::widen(path).c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.valid()) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h.get(), &info)) return std::nullopt;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber,
                        (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

Result<Backing, OsError> probe_backing(const std::string& path) {
    Backing b;
    if (auto number = win::physical_drive_number(path)) {
        win::Handle h(CreateFileW(win::widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
        if (!h.valid()) return unexpected(last_os_error());
        GET_LENGTH_INFORMATION length{};
        DWORD got = 0;
        if (!DeviceIoControl(h.get(), IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length,
                             sizeof length, &got, nullptr))
            return unexpected(last_os_error());
        b.size = length.Length.QuadPart < 0 ? 0 : static_cast<uint64_t>(length.Length.QuadPart);
        std::array<char, 256> geometry{};
        if (DeviceIoControl(h.get(), IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, geometry.data(),
                            geometry.size(), &got, nullptr)) {
            auto g = parse_geometry(std::string(geometry.data(), got));
            if (g && g->bytes_per_sector != 0) b.logical_sector = g->bytes_per_sector;
        }
        b.disk_number = *number;
        return b;
    }
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(win::widen(path).c_str(), GetFileExInfoStandard, &data))
        return unexpected(last_os_error());
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return unexpected(os_error(ERROR_DIRECTORY));
    b.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    b.identity = file_identity(path);
    return b;
}

std::vector<std::pair<uint32_t, FileIdentity>> file_backed_disks() {
    return {};  // Windows has no loop devices; mounted virtual disks are disks of their own
}

OsError simulated_error(SimulatedError kind) {
    switch (kind) {
        case SimulatedError::Removed:
            return os_error(ERROR_DEVICE_NOT_CONNECTED);
        case SimulatedError::Gone:
            return os_error(ERROR_FILE_NOT_FOUND);
        case SimulatedError::MediaChanged:
            return os_error(ERROR_MEDIA_CHANGED);
        case SimulatedError::WriteProtected:
            return os_error(ERROR_WRITE_PROTECT);
        case SimulatedError::Cancelled:
            return os_error(ERROR_OPERATION_ABORTED);
    }
    return os_error(ERROR_IO_DEVICE);
}

}  // namespace sw::platform
