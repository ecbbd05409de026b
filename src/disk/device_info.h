// One disk of the machine as the drive list describes it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sw {

// The bus a disk hangs on; Other keeps the raw bus code.
struct BusKind {
    enum Kind { Usb, Sd, Sata, Nvme, Other };
    Kind kind = Other;
    uint32_t code = 0;  // meaningful for Other only

    friend bool operator==(const BusKind&, const BusKind&) = default;
};

enum class UsbSpeed { Full, High, Super, SuperPlus };

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

}  // namespace sw
