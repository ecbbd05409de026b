// The USB speed of a disk: up the device tree to its USB device, then the
// hub's answer for the port it is plugged into.
#include <windows.h>
#include <cfgmgr32.h>
#include <devpropdef.h>
#include <winioctl.h>

#include <array>

#include "disk/windows_drive_records.h"
#include "disk/platform_disks.h"
#include "platform/win/disk/win_disk.h"
#include "platform/win/wide.h"

namespace sw::platform {

namespace {

// DEVPKEY_Device_Address
const DEVPROPKEY kDeviceAddress = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 30};
// GUID_DEVINTERFACE_USB_HUB
GUID kUsbHubInterface = {
    0xf18a0e88, 0xc30c, 0x11d0, {0x88, 0x15, 0x00, 0xa0, 0xc9, 0x06, 0xbe, 0xd8}};
// usbioctl.h: CTL_CODE(FILE_DEVICE_USB, 274 / 279, METHOD_BUFFERED, FILE_ANY_ACCESS)
constexpr DWORD kGetConnectionInfoEx = CTL_CODE(0x22, 274, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD kGetConnectionInfoExV2 = CTL_CODE(0x22, 279, METHOD_BUFFERED, FILE_ANY_ACCESS);

void put_u32(char* at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

class Hub final : public UsbHub {
  public:
    explicit Hub(win::Handle h) : h_(std::move(h)) {}
    std::optional<std::string> connection_info(uint32_t port) override {
        std::array<char, 512> buf{};
        put_u32(buf.data(), port);  // ConnectionIndex
        return ask(kGetConnectionInfoEx, buf.data(), buf.size());
    }
    std::optional<std::string> connection_info_v2(uint32_t port) override {
        std::array<char, 16> buf{};
        put_u32(buf.data(), port);    // ConnectionIndex
        put_u32(buf.data() + 4, 16);  // Length
        put_u32(buf.data() + 8, 7);   // SupportedUsbProtocols: 1.1, 2.0 and 3.0
        return ask(kGetConnectionInfoExV2, buf.data(), buf.size());
    }

  private:
    std::optional<std::string> ask(DWORD code, char* buf, DWORD size) {
        DWORD got = 0;
        if (!DeviceIoControl(h_.get(), code, buf, size, buf, size, &got, nullptr))
            return std::nullopt;
        return std::string(buf, got);
    }
    win::Handle h_;
};

class Topology final : public UsbTopology {
  public:
    std::optional<uint32_t> parent(uint32_t dev_inst) override {
        DEVINST p = 0;
        if (CM_Get_Parent(&p, dev_inst, 0) != CR_SUCCESS) return std::nullopt;
        return static_cast<uint32_t>(p);
    }
    std::optional<std::string> device_id(uint32_t dev_inst) override {
        std::array<wchar_t, 512> id{};
        if (CM_Get_Device_IDW(dev_inst, id.data(), id.size(), 0) != CR_SUCCESS) return std::nullopt;
        return win::narrow(id.data(), id.size());
    }
    std::optional<std::string> address_property(uint32_t dev_inst) override {
        DEVPROPTYPE type = 0;
        std::array<char, 4> buf{};
        ULONG size = buf.size();
        if (CM_Get_DevNode_PropertyW(dev_inst, &kDeviceAddress, &type,
                                     reinterpret_cast<PBYTE>(buf.data()), &size, 0) != CR_SUCCESS)
            return std::nullopt;
        return std::string(buf.data(), std::min<size_t>(size, buf.size()));
    }
    std::optional<std::string> hub_interface(const std::string& device_id) override {
        std::wstring id = win::widen(device_id);
        std::array<wchar_t, 2048> list{};
        if (CM_Get_Device_Interface_ListW(&kUsbHubInterface, id.data(), list.data(), list.size(),
                                          CM_GET_DEVICE_INTERFACE_LIST_PRESENT) != CR_SUCCESS)
            return std::nullopt;
        if (list[0] == L'\0') return std::nullopt;
        return win::narrow(list.data(), list.size());
    }
    std::unique_ptr<UsbHub> open_hub(const std::string& path) override {
        win::Handle h(CreateFileW(win::widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
        if (!h.valid()) return nullptr;
        return std::make_unique<Hub>(std::move(h));
    }
};

}  // namespace

std::optional<UsbSpeed> usb_speed_of(const DeviceInfo& drive) {
    Topology topology;
    return find_usb_speed(drive.dev_inst, topology);
}

}  // namespace sw::platform
