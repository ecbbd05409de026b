// The disk walk: every present disk interface, asked for its number,
// descriptor, alignment, geometry and length. The answers' bytes go to the
// rules unchanged.
#include <windows.h>
#include <setupapi.h>
#include <winioctl.h>

#include <array>
#include <cstddef>
#include <vector>

#include "disk/windows_drive_records.h"
#include "disk/platform_disks.h"
#include "platform/win/disk/win_disk.h"
#include "platform/win/wide.h"

namespace sw::platform {

namespace {

// GUID_DEVINTERFACE_DISK
const GUID kDiskInterface = {
    0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

class DeviceSet {
  public:
    explicit DeviceSet(HDEVINFO set) : set_(set) {}
    ~DeviceSet() {
        if (set_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set_);
    }
    HDEVINFO get() const { return set_; }

  private:
    HDEVINFO set_;
};

std::optional<std::string> query(HANDLE h, DWORD code, const void* in, DWORD in_size, void* out,
                                 DWORD out_size) {
    DWORD got = 0;
    if (!DeviceIoControl(h, code, const_cast<void*>(in), in_size, out, out_size, &got, nullptr))
        return std::nullopt;
    return std::string(static_cast<const char*>(out), got);
}

DiskAnswers ask_disk(HANDLE h) {
    DiskAnswers a;
    std::array<char, 4096> buf{};
    DWORD got = 0;
    if (DeviceIoControl(h, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, buf.data(), buf.size(),
                        &got, nullptr)) {
        a.device_number = std::string(buf.data(), got);
    } else {
        a.device_number = unexpected(last_os_error());
    }
    STORAGE_PROPERTY_QUERY q{};
    q.PropertyId = StorageDeviceProperty;
    q.QueryType = PropertyStandardQuery;
    a.descriptor = query(h, IOCTL_STORAGE_QUERY_PROPERTY, &q, sizeof q, buf.data(), buf.size());

    std::array<char, 64> alignment{};
    q.PropertyId = StorageAccessAlignmentProperty;
    a.alignment =
        query(h, IOCTL_STORAGE_QUERY_PROPERTY, &q, sizeof q, alignment.data(), alignment.size());
    std::array<char, 256> geometry{};
    a.geometry =
        query(h, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, geometry.data(), geometry.size());
    std::array<char, 8> length{};
    a.length = query(h, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, length.data(), length.size());
    return a;
}

}  // namespace

Result<std::vector<DeviceInfo>, OsError> enumerate_system_disks() {
    DeviceSet set(SetupDiGetClassDevsW(&kDiskInterface, nullptr, nullptr,
                                       DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (set.get() == INVALID_HANDLE_VALUE) return unexpected(last_os_error());

    std::vector<DeviceInfo> disks;
    for (DWORD index = 0; index < kMaxDiskInterfaces; ++index) {
        SP_DEVICE_INTERFACE_DATA iface{};
        iface.cbSize = sizeof iface;
        if (!SetupDiEnumDeviceInterfaces(set.get(), nullptr, &kDiskInterface, index, &iface)) break;

        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailW(set.get(), &iface, nullptr, 0, &required, nullptr);
        if (!detail_size_acceptable(required)) continue;
        std::vector<uint64_t> storage((required + 7) / 8);  // 8-byte aligned
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        SP_DEVINFO_DATA info{};
        info.cbSize = sizeof info;
        if (!SetupDiGetDeviceInterfaceDetailW(set.get(), &iface, detail, required, nullptr, &info))
            continue;
        size_t max_units =
            (required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
        std::wstring path(detail->DevicePath, wcsnlen(detail->DevicePath, max_units));

        std::array<wchar_t, 512> id{};
        std::string instance_id;
        if (SetupDiGetDeviceInstanceIdW(set.get(), &info, id.data(), id.size(), nullptr))
            instance_id = win::narrow(id.data(), id.size());

        win::Handle disk(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
        if (!disk.valid()) continue;
        DiskAnswers answers = ask_disk(disk.get());
        answers.instance_id = instance_id;
        answers.dev_inst = info.DevInst;
        if (auto record = device_info_from_answers(answers)) disks.push_back(std::move(*record));
    }
    sort_by_number(disks);
    return disks;
}

Result<std::string, OsError> disk_path(uint32_t number) {
    return win::narrow(win::physical_drive_path(number));
}

}  // namespace sw::platform
