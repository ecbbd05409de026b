// What each platform directory provides to the drive layer: thin adapters
// over the system's disk, volume and file calls. Every decision is made by
// the rules these adapters feed (disk_answers, facts, linux_rules).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/os_error.h"
#include "core/result.h"
#include "disk/device_info.h"
#include "disk/facts.h"
#include "disk/raw_device.h"

namespace sw::platform {

// The system's own disks (never simulated ones), sorted, no letters or speed.
Result<std::vector<DeviceInfo>, OsError> enumerate_system_disks();
Result<std::vector<VolumeInfo>, OsError> enumerate_system_volumes();
std::optional<UsbSpeed> usb_speed_of(const DeviceInfo& drive);

// What gathering facts takes from the drive layer: the volume list (with
// simulated drives already added to the volumes they alias) and the disks
// that hold a path without any volume knowing it.
struct FactsHooks {
    std::function<Result<std::vector<VolumeInfo>, OsError>()> volumes;
    std::function<std::vector<uint32_t>(const std::string& path)> extra_disks_of;
};
SystemFacts gather_facts(const std::optional<std::string>& image_path, const FactsHooks& hooks);
DiskFact locate_path(const std::vector<VolumeInfo>& volumes, const std::string& path);

// The path that opens disk `number` ("\\.\PhysicalDrive3", "/dev/sdb").
Result<std::string, OsError> disk_path(uint32_t number);
// Opens a disk, or any file opened the same way, for overlapped transfers.
Result<std::unique_ptr<AsyncDisk>, OsError> open_async(const std::string& path,
                                                       const OpenMode& mode, size_t slots);
// What the system calls the writable query of those disks, for the log
// ("IOCTL_DISK_IS_WRITABLE"; "BLKROGET" on Linux).
std::string_view writable_query_name();

std::unique_ptr<VolumeLocker> volume_locker();

#ifdef ORTIVEX_SIMULATED_DRIVES
// --- Simulated drives (development builds only) ------------------------------

// Which file a path names, as the system tells files apart (device and
// inode; volume serial number and file index).
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t file = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};
std::optional<FileIdentity> file_identity(const std::string& path);

// What backs a simulated drive: its size and sectors, and, for a block
// device, the system's number of that disk.
struct Backing {
    uint64_t size = 0;
    std::optional<uint32_t> logical_sector;
    std::optional<uint32_t> physical_sector;
    std::optional<uint32_t> disk_number;   // the path is a disk of the system
    std::optional<FileIdentity> identity;  // the path is a file
};
Result<Backing, OsError> probe_backing(const std::string& path);

// Disks of the system that are views of a file (Linux loop devices), with
// the identity of that file.
std::vector<std::pair<uint32_t, FileIdentity>> file_backed_disks();

// Platform errors a simulated drive reports.
enum class SimulatedError { Removed, Gone, MediaChanged, WriteProtected, Cancelled };
OsError simulated_error(SimulatedError kind);
#endif

}  // namespace sw::platform
