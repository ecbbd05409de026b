// One disk of the machine as the drive list describes it, the fields that say
// which physical drive a record stands for, and one volume of the machine.
// Plain values: copied whole into events and jobs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sw {

// The bus a disk hangs on; Other keeps the raw bus code (the storage bus
// type numbering of Windows, which the Linux adapter reuses).
struct BusKind {
    enum Kind { Usb, Sd, Sata, Nvme, Other };
    Kind kind = Other;
    uint32_t code = 0;  // meaningful for Other only

    friend bool operator==(const BusKind&, const BusKind&) = default;
};

// Storage bus type codes that the rules and the Linux adapter name.
namespace bus_code {
inline constexpr uint32_t kUnknown = 0;
inline constexpr uint32_t kScsi = 1;
inline constexpr uint32_t kAta = 3;
inline constexpr uint32_t kUsb = 7;
inline constexpr uint32_t kSata = 11;
inline constexpr uint32_t kSd = 12;
inline constexpr uint32_t kMmc = 13;
inline constexpr uint32_t kVirtual = 14;
inline constexpr uint32_t kFileBackedVirtual = 15;
inline constexpr uint32_t kNvme = 17;
}  // namespace bus_code

BusKind bus_kind_of_code(uint32_t code);
// "Usb", "Sd", "Sata", "Nvme" or "Other(13)".
std::string bus_name(const BusKind& bus);

enum class UsbSpeed { Full, High, Super, SuperPlus };

// "Full", "High", "Super", "SuperPlus".
std::string_view usb_speed_name(UsbSpeed speed);
// "None" or "Some(High)", as the drive list prints it.
std::string usb_speed_debug(const std::optional<UsbSpeed>& speed);

// Disk numbers from here up belong to simulated drives of development
// builds; no system hands them out (Windows counts its disks from 0, Linux
// its disk sequence numbers from 1).
inline constexpr uint32_t kFirstReservedDiskNumber = 4000000000u;

struct DeviceInfo {
    std::string instance_id;
    std::string vendor;
    std::string product;
    std::string serial;
    std::vector<char> letters;  // upper-case, ascending, unique
    BusKind bus;
    uint64_t size = 0;  // 0: no medium
    uint32_t number = 0;
    uint32_t logical_sector = 512;
    uint32_t physical_sector = 512;
    bool removable = false;
    std::optional<UsbSpeed> usb_speed;
    uint32_t dev_inst = 0;
};

// The six fields that decide whether a drive is still the one chosen earlier.
// Letters, bus, sectors, speed and port are left out on purpose: a stick
// plugged into another port is still the same stick.
struct DeviceIdentity {
    uint32_t number = 0;
    std::string instance_id;
    std::string serial;
    std::string vendor;
    std::string product;
    uint64_t size = 0;

    friend bool operator==(const DeviceIdentity&, const DeviceIdentity&) = default;
};

DeviceIdentity identity_of(const DeviceInfo& drive);
// DeviceIdentity { number: 1, instance_id: "USBSTOR\\X", serial: "S", vendor: "V", product: "P",
// size: 8 }
std::string debug_string(const DeviceIdentity& identity);

// The short name shown to people and written to logs ("SanDisk Ultra",
// "USB drive" when the drive names nothing).
std::string drive_label(const DeviceInfo& drive);

// One volume of the machine.
//
// On Windows `name` is the volume GUID path (\\?\Volume{…}\), `device` its NT
// device name. On Linux `name` is the device node (/dev/sdb1), `device` the
// kernel's "major:minor" and `mount_points` where it is mounted; Linux has no
// drive letters. `disks` are the numbers of every disk that holds part of the
// volume, first seen first, without repeats.
struct VolumeInfo {
    std::string name;
    std::string device;
    std::vector<uint32_t> disks;
    std::vector<char> letters;
    std::vector<std::string> mount_points;
    // Set when the disks it rests on could not all be found out: then
    // `disks` is not the whole answer, and what lies on it is undetermined.
    std::optional<std::string> unresolved{};
};

// The letters of each disk: every volume on the disk gives all its letters
// (a volume spanning two disks gives them to both); ascending, no repeats.
void assign_letters(std::vector<DeviceInfo>& drives, const std::vector<VolumeInfo>& volumes);

// Disks in ascending number order; equal numbers keep their order.
void sort_by_number(std::vector<DeviceInfo>& drives);

// Appends `number` unless the list already has it.
void add_unique(std::vector<uint32_t>& list, uint32_t number);

}  // namespace sw
