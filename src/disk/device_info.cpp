#include "disk/device_info.h"

#include <algorithm>

#include "core/text.h"

namespace sw {

BusKind bus_kind_of_code(uint32_t code) {
    switch (code) {
        case bus_code::kUsb:
            return BusKind{BusKind::Usb, 0};
        case bus_code::kSd:
            return BusKind{BusKind::Sd, 0};
        case bus_code::kSata:
        case bus_code::kAta:
            return BusKind{BusKind::Sata, 0};
        case bus_code::kNvme:
            return BusKind{BusKind::Nvme, 0};
        default:
            return BusKind{BusKind::Other, code};
    }
}

std::string bus_name(const BusKind& bus) {
    switch (bus.kind) {
        case BusKind::Usb:
            return "Usb";
        case BusKind::Sd:
            return "Sd";
        case BusKind::Sata:
            return "Sata";
        case BusKind::Nvme:
            return "Nvme";
        case BusKind::Other:
            break;
    }
    return fmt("Other({})", bus.code);
}

std::string_view usb_speed_name(UsbSpeed speed) {
    switch (speed) {
        case UsbSpeed::Full:
            return "Full";
        case UsbSpeed::High:
            return "High";
        case UsbSpeed::Super:
            return "Super";
        case UsbSpeed::SuperPlus:
            return "SuperPlus";
    }
    return "Full";
}

std::string usb_speed_debug(const std::optional<UsbSpeed>& speed) {
    if (!speed) return "None";
    return fmt("Some({})", usb_speed_name(*speed));
}

DeviceIdentity identity_of(const DeviceInfo& drive) {
    return DeviceIdentity{drive.number, drive.instance_id, drive.serial,
                          drive.vendor, drive.product,     drive.size};
}

std::string debug_string(const DeviceIdentity& id) {
    return fmt(
        "DeviceIdentity { number: {}, instance_id: {}, serial: {}, vendor: {}, product: {}, "
        "size: {} }",
        id.number, debug_quoted(id.instance_id), debug_quoted(id.serial), debug_quoted(id.vendor),
        debug_quoted(id.product), id.size);
}

std::string drive_label(const DeviceInfo& drive) {
    std::string_view vendor = trim(drive.vendor);
    std::string_view product = trim(drive.product);
    std::string label;
    if (vendor.empty()) {
        label = std::string(product);
    } else if (starts_with_ascii_ci(product, vendor)) {
        label = std::string(product);
    } else {
        label = fmt("{} {}", vendor, product);
    }
    if (trim(label).empty()) return "USB drive";
    return label;
}

void assign_letters(std::vector<DeviceInfo>& drives, const std::vector<VolumeInfo>& volumes) {
    for (auto& drive : drives) {
        std::vector<char> letters;
        for (const auto& volume : volumes) {
            if (std::find(volume.disks.begin(), volume.disks.end(), drive.number) ==
                volume.disks.end())
                continue;
            letters.insert(letters.end(), volume.letters.begin(), volume.letters.end());
        }
        std::sort(letters.begin(), letters.end());
        letters.erase(std::unique(letters.begin(), letters.end()), letters.end());
        drive.letters = std::move(letters);
    }
}

void sort_by_number(std::vector<DeviceInfo>& drives) {
    std::stable_sort(drives.begin(), drives.end(),
                     [](const DeviceInfo& a, const DeviceInfo& b) { return a.number < b.number; });
}

void add_unique(std::vector<uint32_t>& list, uint32_t number) {
    if (std::find(list.begin(), list.end(), number) == list.end()) list.push_back(number);
}

}  // namespace sw
