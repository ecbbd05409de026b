// The eject steps a drive seam provides for one disk (DiskSystem::eject_system),
// and the Linux way of taking those steps. eject.h is what the rest of the
// program calls.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/clock.h"
#include "core/os_error.h"
#include "core/result.h"
#include "disk/device_info.h"
#include "disk/eject.h"
#include "disk/raw_device.h"

namespace sw {

inline constexpr int kEjectAttempts = 3;
inline constexpr size_t kVetoNameUnits = 260;

// The device an eject request goes to.
struct EjectTarget {
    uint32_t node = 0;    // Windows: the configuration manager's device instance (DEVINST)
    std::string path;     // Linux: the device's sysfs directory
    bool parent = false;  // the disk's parent device rather than the disk itself

    friend bool operator==(const EjectTarget&, const EjectTarget&) = default;
};

class EjectSystem {
  public:
    virtual ~EjectSystem() = default;
    virtual Result<DeviceInfo, std::string> identify(const DeviceIdentity& expected) = 0;
    // The device the disk hangs on (CM_Get_Parent; on Linux its USB
    // device), if it can be found.
    virtual std::optional<EjectTarget> parent_of(const DeviceInfo& disk) = 0;
    // The disk's own device node.
    virtual EjectTarget own_node(const DeviceInfo& disk) = 0;
    // One eject request; the error is the refusal's text.
    virtual Result<void, std::string> request_eject(const DeviceInfo& disk,
                                                    const EjectTarget& target) = 0;
    // Asks the system to re-read the layout of disk `number`.
    virtual Result<void, OsError> refresh_layout(uint32_t number) = 0;
    // The name of that request in the log ("IOCTL_DISK_UPDATE_PROPERTIES").
    virtual std::string_view refresh_name() const = 0;
};

// What CM_Request_Device_EjectW answered: accepted when it returned
// CR_SUCCESS and nothing vetoed; otherwise
// "CM_Request_Device_EjectW cr={} veto={} {}".
Result<void, std::string> eject_answer(uint32_t cr, int32_t veto_type, std::string_view veto_name);

// --- Linux -------------------------------------------------------------------
//
// What a desktop's "safely remove" does for a USB disk: make sure nothing
// holds the disk (no mounted file system, no swap, no device-mapper or md
// device: the kernel then grants an exclusive open), flush it, let the
// drivers go of the USB device (authorized = 0, which detaches the disk
// after the disk driver has synchronised its cache), and switch its port off
// (the port's "disable" file, which also cuts the port's power on hubs that
// switch power). A disk without a USB device is removed through its own
// SCSI device ("delete"), and so is a disk whose USB device has other disks
// (a card reader, a dock) while one of them is in use: detaching the USB
// device would take those away too.

// An exclusively opened disk.
class HeldDisk {
  public:
    virtual ~HeldDisk() = default;
    // Commits written data to the medium (fsync on the block device).
    virtual Result<void, OsError> flush() = 0;
};

class LinuxEjectOps {
  public:
    virtual ~LinuxEjectOps() = default;
    // The device node of disk `number` ("/dev/sdb").
    virtual Result<std::string, OsError> disk_node(uint32_t number) = 0;
    virtual Result<std::unique_ptr<HeldDisk>, OsError> hold_exclusive(const std::string& node) = 0;
    // Where the disk's file systems are mounted (for the refusal's text).
    virtual std::vector<std::string> mount_points(uint32_t number) = 0;
    virtual bool exists(const std::string& file) = 0;
    virtual Result<void, OsError> write_attribute(const std::string& file,
                                                  std::string_view value) = 0;
    // The device nodes of every disk of the USB device at `usb_dir` (the
    // target among them).
    virtual Result<std::vector<std::string>, OsError> disks_of_usb_device(
        const std::string& usb_dir) = 0;
    // The disk's own sysfs directory.
    virtual std::string disk_sysfs_dir(const DeviceInfo& disk) = 0;
};

// The device nodes of the disks listed in `block_dir` (/sys/block) whose
// device directory lies below `usb_dir`.
Result<std::vector<std::string>, OsError> disks_below(const std::string& block_dir,
                                                      const std::string& usb_dir);

Result<void, std::string> linux_request_eject(LinuxEjectOps& ops, const DeviceInfo& disk,
                                              const EjectTarget& target);

// The USB device above a disk's sysfs directory: the nearest ancestor that
// has an "idVendor" file (`has_vendor` asks the system).
std::optional<std::string> usb_device_of(const std::string& disk_sysfs_dir,
                                         const std::function<bool(const std::string&)>& has_vendor);

}  // namespace sw
