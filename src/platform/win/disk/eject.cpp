// Ejecting a disk through the configuration manager, and asking Windows to
// re-read a disk's layout when it refuses.
#include <windows.h>
#include <cfgmgr32.h>
#include <winioctl.h>

#include <array>

#include "disk/drives.h"
#include "disk/platform_health.h"
#include "platform/win/disk/win_disk.h"
#include "platform/win/wide.h"

namespace sw::platform {

namespace {

class WindowsEject final : public EjectSystem {
  public:
    explicit WindowsEject(std::shared_ptr<DiskSystem> disks) : disks_(std::move(disks)) {}
    Result<DeviceInfo, std::string> identify(const DeviceIdentity& expected) override {
        return identify_drive(disks_, expected);
    }
    std::optional<EjectTarget> parent_of(const DeviceInfo& disk) override {
        DEVINST parent = 0;
        if (CM_Get_Parent(&parent, disk.dev_inst, 0) != CR_SUCCESS) return std::nullopt;
        return EjectTarget{static_cast<uint32_t>(parent), {}, true};
    }
    EjectTarget own_node(const DeviceInfo& disk) override {
        return EjectTarget{disk.dev_inst, {}, false};
    }
    Result<void, std::string> request_eject(const DeviceInfo&, const EjectTarget& target) override {
        PNP_VETO_TYPE veto = PNP_VetoTypeUnknown;
        std::array<wchar_t, kVetoNameUnits> name{};
        CONFIGRET cr = CM_Request_Device_EjectW(target.node, &veto, name.data(),
                                                static_cast<ULONG>(name.size()), 0);
        return eject_answer(static_cast<uint32_t>(cr), static_cast<int32_t>(veto),
                            win::narrow(name.data(), name.size()));
    }
    Result<void, OsError> refresh_layout(uint32_t number) override {
        win::Handle h(CreateFileW(win::physical_drive_path(number).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
        if (!h.valid()) return unexpected(last_os_error());
        DWORD got = 0;
        if (!DeviceIoControl(h.get(), IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &got,
                             nullptr))
            return unexpected(last_os_error());
        return {};
    }
    std::string_view refresh_name() const override { return "IOCTL_DISK_UPDATE_PROPERTIES"; }

  private:
    std::shared_ptr<DiskSystem> disks_;
};

}  // namespace

std::unique_ptr<EjectSystem> eject_system(std::shared_ptr<DiskSystem> disks) {
    return std::make_unique<WindowsEject>(std::move(disks));
}

}  // namespace sw::platform
