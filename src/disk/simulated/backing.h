// What simulated drives need from the platform beyond the drive seam
// (development builds only): telling files apart, probing what backs a
// drive, the system's file-backed disks and the errors a simulated drive
// reports. Implemented beside each platform's drive adapters.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/os_error.h"
#include "core/result.h"

namespace sw::platform {

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
    // Opening it for writing is refused (permissions, a read-only file
    // system): this run could not write the drive.
    std::optional<OsError> open_refused;
};
Result<Backing, OsError> probe_backing(const std::string& path);

// Disks of the system that are views of a file (Linux loop devices), with
// the identity of that file.
std::vector<std::pair<uint32_t, FileIdentity>> file_backed_disks();

// Platform errors a simulated drive reports.
enum class SimulatedError { Removed, Gone, MediaChanged, WriteProtected, Cancelled };
OsError simulated_error(SimulatedError kind);
}  // namespace sw::platform
