#include "disk/windows_drive_records.h"

#include <algorithm>

#include "core/text.h"

namespace sw {

namespace {

// Little-endian fields of the answers (Windows is little-endian on x64 and
// the recorded answers are kept in the same order).
uint32_t u32_at(std::string_view b, size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i)
        v |= static_cast<uint32_t>(static_cast<unsigned char>(b[at + i])) << (8 * i);
    return v;
}

int64_t i64_at(std::string_view b, size_t at) {
    uint64_t v = 0;
    for (size_t i = 0; i < 8; ++i)
        v |= static_cast<uint64_t>(static_cast<unsigned char>(b[at + i])) << (8 * i);
    return static_cast<int64_t>(v);
}

// Offsets within STORAGE_DEVICE_DESCRIPTOR.
constexpr size_t kDescSize = 4;
constexpr size_t kDescRemovable = 10;
constexpr size_t kDescVendorOffset = 12;
constexpr size_t kDescProductOffset = 16;
constexpr size_t kDescSerialOffset = 24;
constexpr size_t kDescBusType = 28;
constexpr size_t kDescBusTypeEnd = 32;

constexpr size_t kMaxDescriptorText = 256;

}  // namespace

bool detail_size_acceptable(uint32_t required_bytes) {
    return required_bytes >= 8 && required_bytes <= 65536;
}

std::string clean_text(std::string_view raw) {
    std::string out(raw.substr(0, std::min(raw.size(), kMaxDescriptorText)));
    for (char& c : out) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u > 0x7E) c = ' ';
    }
    return std::string(trim(out));
}

std::string descriptor_text(std::string_view descriptor, uint32_t usable, uint32_t offset) {
    size_t limit = std::min<size_t>(usable, descriptor.size());
    if (offset == 0 || offset > limit) return "";
    std::string_view rest = descriptor.substr(offset, limit - offset);
    size_t zero = rest.find('\0');
    if (zero != std::string_view::npos) rest = rest.substr(0, zero);
    return clean_text(rest);
}

Result<StorageDescriptor, std::string> parse_storage_descriptor(std::string_view returned) {
    size_t usable = returned.size();
    if (returned.size() >= 8) usable = std::min<size_t>(usable, u32_at(returned, kDescSize));
    if (usable < kDescBusTypeEnd) return unexpected(std::string("bad device descriptor"));
    auto len = static_cast<uint32_t>(usable);
    StorageDescriptor d;
    d.removable = returned[kDescRemovable] != 0;
    d.bus_type = u32_at(returned, kDescBusType);
    d.vendor = descriptor_text(returned, len, u32_at(returned, kDescVendorOffset));
    d.product = descriptor_text(returned, len, u32_at(returned, kDescProductOffset));
    d.serial = descriptor_text(returned, len, u32_at(returned, kDescSerialOffset));
    return d;
}

std::optional<AlignmentAnswer> alignment_answer(uint32_t logical, uint32_t physical) {
    bool power_of_two = logical != 0 && (logical & (logical - 1)) == 0;
    if (!power_of_two || logical < 512 || logical > 65536) return std::nullopt;
    return AlignmentAnswer{logical, std::max(logical, physical)};
}

std::optional<AlignmentAnswer> parse_alignment(const std::optional<std::string>& returned) {
    // BytesPerLogicalSector at 16, BytesPerPhysicalSector at 20.
    if (!returned || returned->size() < 24) return std::nullopt;
    return alignment_answer(u32_at(*returned, 16), u32_at(*returned, 20));
}

std::optional<GeometryAnswer> parse_geometry(const std::optional<std::string>& returned) {
    // DISK_GEOMETRY.BytesPerSector at 20, DiskSize at 24.
    if (!returned || returned->size() < 32) return std::nullopt;
    int64_t size = i64_at(*returned, 24);
    if (size < 0) return std::nullopt;
    return GeometryAnswer{u32_at(*returned, 20), static_cast<uint64_t>(size)};
}

SectorSizes choose_sectors(const std::optional<AlignmentAnswer>& alignment,
                           const std::optional<GeometryAnswer>& geometry) {
    if (alignment) return SectorSizes{alignment->logical, alignment->physical};
    if (geometry && geometry->bytes_per_sector != 0)
        return SectorSizes{geometry->bytes_per_sector, geometry->bytes_per_sector};
    return SectorSizes{};
}

uint64_t choose_size(const std::optional<std::string>& length_returned,
                     const std::optional<GeometryAnswer>& geometry) {
    if (length_returned && length_returned->size() == 8) {
        int64_t length = i64_at(*length_returned, 0);
        return length < 0 ? 0 : static_cast<uint64_t>(length);
    }
    return geometry ? geometry->disk_size : 0;
}

Result<DeviceInfo, std::string> device_info_from_answers(const DiskAnswers& a) {
    if (!a.device_number) return unexpected(a.device_number.error().text);
    // STORAGE_DEVICE_NUMBER: DeviceType at 0, DeviceNumber at 4.
    if (a.device_number->size() < 8) return unexpected(std::string("bad device number"));
    if (!a.descriptor) return unexpected(std::string("bad device descriptor"));
    auto descriptor = parse_storage_descriptor(*a.descriptor);
    if (!descriptor) return unexpected(descriptor.error());

    DeviceInfo d;
    d.instance_id = a.instance_id;
    d.number = u32_at(*a.device_number, 4);
    d.vendor = descriptor->vendor;
    d.product = descriptor->product;
    d.serial = descriptor->serial;
    d.bus = bus_kind_of_code(descriptor->bus_type);
    d.removable = descriptor->removable;
    auto geometry = parse_geometry(a.geometry);
    SectorSizes sectors = choose_sectors(parse_alignment(a.alignment), geometry);
    d.logical_sector = sectors.logical;
    d.physical_sector = sectors.physical;
    d.size = choose_size(a.length, geometry);
    d.dev_inst = a.dev_inst;
    return d;
}

std::vector<uint32_t> disks_from_extents(const std::optional<std::string>& returned) {
    std::vector<uint32_t> disks;
    if (!returned || returned->size() < 4) return disks;
    uint32_t count = u32_at(*returned, 0);
    // Each DISK_EXTENT is 24 bytes from offset 8, DiskNumber first.
    for (uint32_t i = 0; i < std::min<uint32_t>(count, 64); ++i) {
        size_t at = 8 + 24 * static_cast<size_t>(i);
        if (returned->size() < at + 4) return {};
        add_unique(disks, u32_at(*returned, at));
    }
    return disks;
}

std::string trim_trailing_backslashes(std::string_view name) {
    while (!name.empty() && name.back() == '\\')
        name.remove_suffix(1);
    return std::string(name);
}

std::string strip_verbatim_prefixes(std::string_view name) {
    while (name.starts_with("\\\\?\\"))
        name.remove_prefix(4);
    return std::string(name);
}

std::vector<char> letters_from_mount_paths(const std::vector<std::string>& paths) {
    std::vector<char> letters;
    for (const auto& p : paths) {
        if (p.size() < 2 || p.size() > 3 || p[1] != ':') continue;
        char c = p[0];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        letters.push_back(c);
    }
    return letters;
}

bool is_usb_device_id(std::string_view id) {
    return id.size() >= 4 && ascii_upper(id.substr(0, 4)) == "USB\\";
}

std::optional<UsbSpeed> speed_from_connection_info(uint8_t speed) {
    if (speed <= 1) return UsbSpeed::Full;
    if (speed == 2) return UsbSpeed::High;
    return std::nullopt;
}

std::optional<uint8_t> connection_speed_byte(const std::optional<std::string>& returned) {
    // USB_NODE_CONNECTION_INFORMATION_EX is packed: ConnectionIndex (4),
    // the 18-byte device descriptor, CurrentConfigurationValue, then Speed.
    constexpr size_t kSpeed = 23;
    if (!returned || returned->size() <= kSpeed) return std::nullopt;
    return static_cast<uint8_t>((*returned)[kSpeed]);
}

UsbSpeed super_speed_from_v2(const std::optional<std::string>& returned) {
    // USB_NODE_CONNECTION_INFORMATION_EX_V2: Flags at 12; bit 2 is
    // DeviceIsOperatingAtSuperSpeedPlusOrHigher.
    if (returned && returned->size() >= 16 && (u32_at(*returned, 12) & 0x4u) != 0)
        return UsbSpeed::SuperPlus;
    return UsbSpeed::Super;
}

std::optional<UsbSpeed> find_usb_speed(uint32_t disk_dev_inst, UsbTopology& topology) {
    std::optional<uint32_t> usb_device;
    uint32_t current = disk_dev_inst;
    for (int step = 0; step < 6; ++step) {
        auto parent = topology.parent(current);
        if (!parent) return std::nullopt;
        auto id = topology.device_id(*parent);
        if (!id) return std::nullopt;
        if (is_usb_device_id(*id)) {
            usb_device = *parent;
            break;
        }
        current = *parent;
    }
    if (!usb_device) return std::nullopt;

    auto address = topology.address_property(*usb_device);
    if (!address || address->size() != 4) return std::nullopt;
    uint32_t port = 0;
    for (size_t i = 0; i < 4; ++i)
        port |= static_cast<uint32_t>(static_cast<unsigned char>((*address)[i])) << (8 * i);

    auto hub = topology.parent(*usb_device);
    if (!hub) return std::nullopt;
    auto hub_id = topology.device_id(*hub);
    if (!hub_id) return std::nullopt;
    auto path = topology.hub_interface(*hub_id);
    if (!path) return std::nullopt;
    auto open = topology.open_hub(*path);
    if (!open) return std::nullopt;

    auto speed = connection_speed_byte(open->connection_info(port));
    if (!speed) return std::nullopt;
    if (auto slow = speed_from_connection_info(*speed)) return slow;
    return super_speed_from_v2(open->connection_info_v2(port));
}

}  // namespace sw
