// Turning what Windows answers about a disk, a volume or a USB port into
// records. The adapter only collects the bytes each query returned; every
// decision (which answers count, which fallback applies, which text is
// clean) is made here, so that it runs against recorded answers.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/os_error.h"
#include "core/result.h"
#include "disk/device_info.h"

namespace sw {

// At most this many disk interfaces are looked at in one walk.
inline constexpr unsigned kMaxDiskInterfaces = 256;

// The interface detail size is plausible (8 to 65536 bytes).
bool detail_size_acceptable(uint32_t required_bytes);

// Vendor, product and serial texts: the bytes from `offset` up to the first
// zero or `usable` (at most 256), non-printable bytes as blanks, trimmed.
// Empty when the offset is 0 or lies past the usable length.
std::string descriptor_text(std::string_view descriptor, uint32_t usable, uint32_t offset);

// Printable ASCII only (other bytes become blanks), trimmed, at most 256
// bytes: the same cleaning for texts that come without a descriptor.
std::string clean_text(std::string_view raw);

struct StorageDescriptor {
    bool removable = false;
    uint32_t bus_type = 0;
    std::string vendor;
    std::string product;
    std::string serial;
};
// The storage device descriptor from the bytes the query returned; the error
// "bad device descriptor" when too short to hold the bus type.
Result<StorageDescriptor, std::string> parse_storage_descriptor(std::string_view returned);

struct AlignmentAnswer {
    uint32_t logical = 0;
    uint32_t physical = 0;
};
// Counts only with a logical sector that is a power of two from 512 to 65536;
// the physical sector is never smaller than the logical one.
std::optional<AlignmentAnswer> alignment_answer(uint32_t logical, uint32_t physical);
// From the access-alignment query's returned bytes (nullopt: the query failed).
std::optional<AlignmentAnswer> parse_alignment(const std::optional<std::string>& returned);

struct GeometryAnswer {
    uint32_t bytes_per_sector = 0;
    uint64_t disk_size = 0;
};
std::optional<GeometryAnswer> parse_geometry(const std::optional<std::string>& returned);

struct SectorSizes {
    uint32_t logical = 512;
    uint32_t physical = 512;
};
// Alignment answer first, then the geometry's sector size (unchecked, unless
// 0), then 512 for both.
SectorSizes choose_sectors(const std::optional<AlignmentAnswer>& alignment,
                           const std::optional<GeometryAnswer>& geometry);

// The length query counts only with exactly 8 bytes (negative is 0);
// otherwise the geometry's size, otherwise 0 (no medium).
uint64_t choose_size(const std::optional<std::string>& length_returned,
                     const std::optional<GeometryAnswer>& geometry);

// Everything the disk walk learned about one disk interface.
struct DiskAnswers {
    std::string instance_id;  // empty when it could not be read
    uint32_t dev_inst = 0;
    // Bytes returned by each query; an error / nullopt when the query failed.
    Result<std::string, OsError> device_number = std::string();
    std::optional<std::string> descriptor;
    std::optional<std::string> alignment;
    std::optional<std::string> geometry;
    std::optional<std::string> length;
};

// The disk's record, or why it is left out ("bad device number", "bad device
// descriptor" or the device-number query's error).
Result<DeviceInfo, std::string> device_info_from_answers(const DiskAnswers& answers);

// Disk numbers of a volume from the disk-extents answer: first seen first,
// no repeats; empty when the answer is missing, short or inconsistent.
std::vector<uint32_t> disks_from_extents(const std::optional<std::string>& returned);

// "\\?\Volume{x}\" -> "\\?\Volume{x}" (every trailing backslash).
std::string trim_trailing_backslashes(std::string_view name);
// "\\?\Volume{x}" -> "Volume{x}" (every leading "\\?\").
std::string strip_verbatim_prefixes(std::string_view name);
// Drive letters of a volume's mount paths: "E:\" and "E:" count (upper-cased),
// folder mount points do not.
std::vector<char> letters_from_mount_paths(const std::vector<std::string>& paths);

// --- USB speed -------------------------------------------------------------

// "USB\VID_0781&PID_5581\..." in any case.
bool is_usb_device_id(std::string_view id);

// The Speed member of the connection information (0 low, 1 full, 2 high,
// 3 or more super): Full or High, or nullopt when the second query decides.
std::optional<UsbSpeed> speed_from_connection_info(uint8_t speed);
// The Speed byte of the connection-information answer, if it holds one.
std::optional<uint8_t> connection_speed_byte(const std::optional<std::string>& returned);
// SuperPlus when the version-2 answer says so, Super in every other case.
UsbSpeed super_speed_from_v2(const std::optional<std::string>& returned);

// One open USB hub.
class UsbHub {
  public:
    virtual ~UsbHub() = default;
    // Bytes returned by the connection-information query for `port`.
    virtual std::optional<std::string> connection_info(uint32_t port) = 0;
    // Bytes returned by the version-2 query for `port`.
    virtual std::optional<std::string> connection_info_v2(uint32_t port) = 0;
};

// The device tree as the configuration manager shows it.
class UsbTopology {
  public:
    virtual ~UsbTopology() = default;
    virtual std::optional<uint32_t> parent(uint32_t dev_inst) = 0;
    virtual std::optional<std::string> device_id(uint32_t dev_inst) = 0;
    // The raw bytes of the device's address property (its port number).
    virtual std::optional<std::string> address_property(uint32_t dev_inst) = 0;
    // The first present hub interface path of the device with this ID.
    virtual std::optional<std::string> hub_interface(const std::string& device_id) = 0;
    virtual std::unique_ptr<UsbHub> open_hub(const std::string& path) = 0;
};

// The speed of the USB device that a disk belongs to; nullopt whenever any
// step fails. At most 6 ancestors are examined.
std::optional<UsbSpeed> find_usb_speed(uint32_t disk_dev_inst, UsbTopology& topology);

}  // namespace sw
